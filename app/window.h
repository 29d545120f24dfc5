// The window face of the executable: the Qt Quick application with the controller, the version
// and the translation manager published to QML.
#pragma once

#include <QUrl>

class QQmlEngine;

namespace qvota {

// Runs the window until it is closed and returns the event loop's result, or -1 when the main
// window cannot be created. A root other than the module's Main is for tests and benchmarks.
int run_window(int &argc, char **argv, const QUrl &root = QUrl());

// Publishes "ui", "appVersion" and "i18n" on the engine's root context; the controller and
// the translation manager are children of the engine and go with it.
void publish_window_context(QQmlEngine &engine);

} // namespace qvota
