# The one front door: `make demo` and `make test` work on a fresh Debian 12 machine.

DEPS := cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev \
	qt6-declarative-dev qt6-declarative-dev-tools qt6-tools-dev qt6-l10n-tools \
	qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates \
	qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript \
	qml6-module-qt-labs-settings qml6-module-qttest qml6-module-qtqml qml6-module-qtqml-models \
	qt6-qpa-plugins help2man qt6-httpserver-dev qt6-websockets-dev
# Only for `make lint`: clazy, for its check of chained QString::arg() calls.
LINT_DEPS := clazy
# Only for the screenshots: a virtual display and fonts with Chinese and Japanese glyphs.
SHOT_DEPS := xvfb xauth fonts-noto-cjk
# Only for `make windows-check`: the mingw-w64 cross compiler.
WINDOWS_DEPS := g++-mingw-w64-x86-64-posix
# Only for fuzzing: clang with its libFuzzer and sanitizer runtimes.
FUZZ_DEPS := clang libclang-rt-14-dev
# Seconds of fuzzing per target; `make fuzz` runs the two targets one after the other.
FUZZ_SECONDS ?= 300
# Only for `make package`: dpkg-shlibdeps, which finds the package's library dependencies, and
# the validators the package test runs over the desktop entry and the metainfo.
PACKAGE_DEPS := dpkg-dev desktop-file-utils appstream
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps install-missing build test demo run lint screenshots bench asan-build asan-test tsan-test \
	fuzz package format clean

all: build

# Installs only what is missing, so a second run touches neither the network nor apt.
deps:
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(DEPS)"

install-missing:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# promtool checks the station's metrics and the Prometheus files in the tests. Installing
# Debian's prometheus package would also start a Prometheus server, so only its promtool is
# unpacked, into build/tools/ (a promtool already on PATH is used instead).
PROMTOOL := build/tools/promtool
$(PROMTOOL):
	@if ! command -v promtool >/dev/null; then \
	  mkdir -p build/tools/deb && cd build/tools/deb && \
	  { apt-get download prometheus 2>/dev/null || { $(SUDO) apt-get update && apt-get download prometheus; }; } && \
	  dpkg-deb --fsys-tarfile prometheus_*.deb | tar -xO ./usr/bin/promtool >../promtool.part && \
	  chmod +x ../promtool.part && mv ../promtool.part ../promtool && cd .. && rm -rf deb; \
	fi

test: build $(PROMTOOL)
	ctest --preset default -j $(JOBS)

demo: build
	bash tools/demo.sh build/bin

# Opens the window; it needs a display (here: xvfb-run -a make run).
run: build
	build/bin/QuelvaneOtaStudio

lint: build
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(LINT_DEPS)"
	cmake --build --preset default --target all_qmllint
	bash tools/lint-cpp.sh build

screenshots: build
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(SHOT_DEPS)"
	bash tools/screenshots.sh build/bin build/screenshots

bench: build
	build/bin/qvota-bench
	build/bin/qvota-bench-window
	build/bin/qvota-bench-lines

# The fault sweep's slow rows, which sit out the protocol's long time-outs (a few minutes).
.PHONY: reliability soak
reliability: build
	QVOTA_RELIABILITY=1 ctest --preset default -L reliability

# Updates back to back through the controller with injected faults; prints the resource figures.
soak: build
	build/bin/qvota-soak

asan-build: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

asan-test: asan-build
	ctest --preset asan -j $(JOBS)

tsan-test: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

# Compile-checks the Windows-only code with the mingw-w64 cross compiler (not part of `make test`).
.PHONY: windows-check
windows-check:
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(WINDOWS_DEPS)"
	bash tools/windows-check.sh

# Fails on any finding; the inputs that found something stay in build-fuzz/fuzz/<target>/findings.
fuzz: deps
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(FUZZ_DEPS)"
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash tests/fuzz/run.sh build-fuzz/bin build-fuzz/fuzz

# The Debian package of the default build, left in build/; then its test, which unpacks it and
# runs the programs from there (tests/packaging/check-deb.sh).
package: build
	@$(MAKE) --no-print-directory install-missing PACKAGES="$(PACKAGE_DEPS)"
	cpack --config build/CPackConfig.cmake -G DEB
	QVOTA_PACKAGE_TEST=1 ctest --preset default -L package --no-tests=error

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz
