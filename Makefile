# The one front door: `make demo` and `make test` work on a fresh Debian 12 machine.

DEPS := cmake make g++ pkg-config qt6-base-dev qt6-serialport-dev libgl-dev
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build test demo bench asan-build asan-test tsan-test format clean

all: build

# Installs only what is missing, so a second run touches neither the network nor apt.
deps:
	@missing=""; \
	for p in $(DEPS); do \
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

test: build
	ctest --preset default -j $(JOBS)

demo: build
	bash tools/demo.sh build/bin

bench: build
	build/bin/qvota-bench

asan-build: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

asan-test: asan-build
	ctest --preset asan -j $(JOBS)

tsan-test: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan
