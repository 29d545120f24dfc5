import QtQuick

// Room for options that only some builds of the tool offer, below the warm-boot selector.
// This build has none: it draws nothing and takes no space.
Item {
    implicitWidth: 0
    implicitHeight: 0
}
