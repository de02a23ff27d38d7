// Qt tests (tests/processing, tests/app): one QApplication on the offscreen
// platform for a whole test program, destroyed after the last test so that Qt
// frees its caches. Settings go to a folder of the program's own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <cstdlib>
#include <functional>
#include <memory>

class CQtEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        m_pConfigDir = std::make_unique<QTemporaryDir>();
        setenv("XDG_CONFIG_HOME", m_pConfigDir->path().toLocal8Bit().constData(), 1);
        static int argc = 1;
        static char name[] = "pelora_test";
        static char* argv[] = {name, nullptr};
        m_pApp = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        m_pApp.reset();
        m_pConfigDir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> m_pConfigDir;
    std::unique_ptr<QApplication> m_pApp;
};
inline testing::Environment* const g_pQtEnvironment =
    testing::AddGlobalTestEnvironment(new CQtEnvironment);

// Dispatches events (deferred deletes too) until done() or the time is up;
// returns done(). The time-out only guards against a hang.
inline bool PumpUntil(const std::function<bool()>& done, int nMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > nMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}
