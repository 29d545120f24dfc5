// Usage: qvota-window-shots OUT_DIR BOARD_PORT IMAGE [FOLDER]
// Starts an update over UDP to 127.0.0.1:BOARD_PORT and, once it is under way, saves the window
// in the abyss and light themes in every language, then the file picker open on FOLDER.
#include "window.h"

int main(int argc, char *argv[])
{
    return qvota::run_window(argc, argv, QUrl(QStringLiteral("qrc:/shots/Shots.qml")));
}
