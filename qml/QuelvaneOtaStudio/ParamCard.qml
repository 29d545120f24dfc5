import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The parameter card: the transport and its settings, the image and the warm-boot choice,
// which scroll when the window is short, and Start and Cancel, which never do.
Card {
    id: card

    // The window's texts, translated in its own context.
    required property var texts
    // Stable ids of the selectors and the texts they show for them.
    required property var transportIds
    required property var transportText
    required property var targetIds
    required property var targetText

    readonly property bool udpMode: transportIds[transportCombo.currentIndex] === "udp"
    readonly property string imagePath: fileField.text

    // The serial port as the user (or Refresh, or the first listing) chose it, and the ports
    // listed now. A chosen port that goes away stays chosen, marked in the list, until it comes
    // back: a run started meanwhile waits for it rather than going to another board.
    property string _chosenPort: ""
    property var _presentPorts: []

    signal startRequested()
    signal browseRequested()

    // The start configuration, read from the controls at this moment.
    function configuration() {
        return {
            "transport": udpMode ? "udp" : "uart",
            "port": portCombo.currentText,
            "baud": parseInt(baudCombo.currentText),
            "ip": boardIpField.text,
            "udpPort": parseInt(boardPortField.text),
            "hostIp": hostIpCombo.currentText,
            "hostPort": parseInt(hostPortField.text),
            "file": fileField.text,
            "target": targetIds[targetCombo.currentIndex],
            "warmBoot": targetCombo.currentIndex !== 0
        };
    }

    // A path chosen as a whole (picked or dropped): shown and read at once, even when it is the
    // path already shown, since the file may have been rebuilt since.
    function setImage(path) {
        fileField.text = path;
        imageSummary.refresh();
    }

    function refreshImageSummary() {
        imageSummary.refresh();
    }

    function refreshSerialPorts() {
        const entries = host.controller.serialPorts();
        _showPorts(entries, _preferredEntry(entries, entry => entry.startsWith("COM35")));
    }

    function refreshHostAddresses() {
        const entries = host.controller.hostAddresses();
        hostIpCombo.model = entries;
        hostIpCombo.currentIndex = entries.indexOf(_preferredEntry(entries, entry => entry.indexOf("192.168.0.") >= 0));
    }

    // The first entry that the test accepts, else the first entry; "" for an empty list.
    function _preferredEntry(entries, preferred) {
        const found = entries.find(preferred);
        return found !== undefined ? found : entries.length > 0 ? entries[0] : "";
    }

    // The port's name, as a run reads it from the entry: what stays when its description changes.
    function _portName(entry) {
        return entry.split(" ")[0];
    }

    function _isAbsent(entry) {
        return _presentPorts.indexOf(entry) < 0;
    }

    // Lists the present ports with the chosen one current: a listed entry of the same name, or
    // else the chosen entry itself, marked, at its place in the order.
    function _showPorts(listed, chosen) {
        // A plain array: the controller's list would not spread into concat().
        const present = Array.from(listed);
        const same = present.find(entry => chosen !== "" && _portName(entry) === _portName(chosen));
        _chosenPort = same !== undefined ? same : chosen;
        _presentPorts = present;
        const entries = _chosenPort === "" || same !== undefined ? present : present.concat([_chosenPort]).sort();
        portCombo.model = entries;
        portCombo.currentIndex = entries.indexOf(_chosenPort);
    }

    // Follows ports that come and go without ever changing the chosen one; with none chosen yet,
    // a port that appears is chosen as Refresh would choose it.
    function _followSerialPorts() {
        const present = host.controller.serialPorts();
        if (portCombo.popup.visible || present.join("\n") === _presentPorts.join("\n"))
            return;
        _showPorts(present, _chosenPort !== "" ? _chosenPort : _preferredEntry(present, entry => entry.startsWith("COM35")));
    }

    Host {
        id: host
    }

    Timer {
        interval: 1000
        repeat: true
        running: !host.controller.running
        onTriggered: card._followSerialPorts()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 10

        ScrollView {
            id: paramScroll
            objectName: "paramScroll"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: availableWidth
            // The column never scrolls sideways, and a hidden bar would still take the clicks
            // along the bottom edge.
            ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
            // Shown for as long as part of the card is out of view, not only while it moves, and
            // beside the inputs rather than over their right edge.
            ScrollBar.vertical.policy: contentHeight > height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            rightPadding: ScrollBar.vertical.policy === ScrollBar.AlwaysOn ? ScrollBar.vertical.width + 4 : 0

            ColumnLayout {
                objectName: "paramCol"
                width: paramScroll.availableWidth
                spacing: 10
                // None of the settings may change under a run.
                enabled: !host.controller.running

                Captioned {
                    caption: card.texts.transport
                    ThemedCombo {
                        id: transportCombo
                        objectName: "transportCombo"
                        Layout.fillWidth: true
                        model: card.transportIds
                        textMapper: card.transportText
                        currentIndex: 0
                    }
                }

                ColumnLayout {
                    objectName: "serialGroup"
                    visible: !card.udpMode
                    spacing: 10
                    Layout.fillWidth: true

                    Captioned {
                        caption: card.texts.serial
                        input: portCombo
                        RowLayout {
                            spacing: 8
                            Layout.fillWidth: true
                            ThemedCombo {
                                id: portCombo
                                objectName: "portCombo"
                                Layout.fillWidth: true
                                editable: false
                                textMapper: entry => card._isAbsent(entry) ? card.texts.portAbsent.arg(entry) : entry
                                // A port that went away leaves the list once another is chosen.
                                onActivated: index => card._showPorts(card._presentPorts, portCombo.model[index])
                            }
                            ThemedButton {
                                objectName: "refreshButton"
                                text: card.texts.refresh
                                onClicked: card.refreshSerialPorts()
                            }
                        }
                    }
                    Captioned {
                        caption: card.texts.baudRate
                        ThemedCombo {
                            id: baudCombo
                            objectName: "baudCombo"
                            Layout.fillWidth: true
                            model: ["115200", "57600", "9600"]
                            currentIndex: 0
                        }
                    }
                }

                ColumnLayout {
                    objectName: "networkGroup"
                    visible: card.udpMode
                    spacing: 10
                    Layout.fillWidth: true

                    Captioned {
                        caption: card.texts.boardIp
                        ThemedTextField {
                            id: boardIpField
                            objectName: "boardIpField"
                            Layout.fillWidth: true
                            text: "192.168.0.100"
                        }
                    }
                    Captioned {
                        caption: card.texts.boardPort
                        ThemedTextField {
                            id: boardPortField
                            objectName: "boardPortField"
                            Layout.fillWidth: true
                            text: "7777"
                        }
                    }
                    Captioned {
                        caption: card.texts.hostAdapter
                        input: hostIpCombo
                        RowLayout {
                            spacing: 8
                            Layout.fillWidth: true
                            ThemedCombo {
                                id: hostIpCombo
                                objectName: "hostIpCombo"
                                Layout.fillWidth: true
                                editable: false
                            }
                            ThemedButton {
                                objectName: "detectButton"
                                text: card.texts.detect
                                onClicked: card.refreshHostAddresses()
                            }
                        }
                    }
                    Captioned {
                        caption: card.texts.hostPort
                        ThemedTextField {
                            id: hostPortField
                            objectName: "hostPortField"
                            Layout.fillWidth: true
                            text: "6666"
                        }
                    }
                }

                Rectangle {
                    implicitHeight: 1
                    Layout.fillWidth: true
                    color: Theme.border
                }

                Captioned {
                    caption: card.texts.firmwareImage
                    input: fileField
                    RowLayout {
                        spacing: 8
                        Layout.fillWidth: true
                        ThemedTextField {
                            id: fileField
                            objectName: "fileField"
                            Layout.fillWidth: true
                            placeholderText: card.texts.selectImage
                        }
                        ThemedButton {
                            objectName: "browseButton"
                            text: card.texts.browse
                            onClicked: card.browseRequested()
                        }
                    }
                    ImageSummary {
                        id: imageSummary
                        objectName: "imageSummary"
                        Layout.fillWidth: true
                        // The card's width, not the text's: a long summary wraps.
                        Layout.preferredWidth: 0
                        path: fileField.text
                        udpMode: card.udpMode
                        baudText: baudCombo.currentText
                    }
                }

                Captioned {
                    caption: card.texts.options
                    ThemedCombo {
                        id: targetCombo
                        objectName: "targetCombo"
                        Layout.fillWidth: true
                        model: card.targetIds
                        textMapper: card.targetText
                        currentIndex: 2
                    }
                    // Part of the options section, without a gap of its own while it is empty.
                    ExtraOptions {
                        Layout.fillWidth: true
                    }
                }
            }
        }

        RowLayout {
            spacing: 8
            Layout.fillWidth: true
            ThemedButton {
                objectName: "startBtn"
                kind: 1
                Layout.fillWidth: true
                text: host.controller.running ? card.texts.upgrading : card.texts.startUpgrade
                enabled: !host.controller.running && fileField.text !== ""
                onClicked: card.startRequested()
            }
            ThemedButton {
                objectName: "cancelBtn"
                kind: 2
                text: card.texts.cancel
                enabled: host.controller.running
                onClicked: host.controller.cancel()
            }
        }
    }
}
