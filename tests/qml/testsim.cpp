#include "testsim.h"

#include "testimages.h"

using namespace qvota::test;

int TestSim::startUdp(const QStringList &extraArgs)
{
    m_sim = std::make_unique<BoardSim>();
    return m_sim->startUdp(extraArgs) ? m_sim->udpPort() : 0;
}

void TestSim::stop()
{
    m_sim.reset();
}

QString TestSim::packImage(int plainBytes, const QString &name)
{
    return write_file(m_dir, name, pack_with_sim(pattern_bytes(plainBytes, 7)));
}

QString TestSim::writeText(const QString &name, const QString &text)
{
    return write_file(m_dir, name, text.toUtf8());
}
