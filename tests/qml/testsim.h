// Lets a QML test run the board simulator and make image files: "testSim" in the test engine.
#pragma once

#include "boardsim.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class TestSim : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts a simulator on UDP 127.0.0.1 with extra serve options; returns its port, 0 when it
    // did not come up. A running one is stopped first.
    Q_INVOKABLE int startUdp(const QStringList &extraArgs = {});
    Q_INVOKABLE void stop();
    // A container of plainBytes pattern bytes that the simulator can decrypt; the path.
    Q_INVOKABLE QString packImage(int plainBytes,
                                  const QString &name = QStringLiteral("image.qvbit"));
    // A file holding text, for images a run must refuse; the path.
    Q_INVOKABLE QString writeText(const QString &name, const QString &text);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<qvota::test::BoardSim> m_sim;
};
