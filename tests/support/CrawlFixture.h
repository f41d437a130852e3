#pragma once

#include "crawl/PageFile.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/ScriptedShell.h"
#include "window/Form1.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

// A run through the real crawl: a Form1 on a scripted shell, a loopback server,
// and page files in a temporary TEMP that is checked for leftovers. The connect
// and stall time-outs are timeoutMs; a retry waits a millisecond or two.
class CrawlFixture : public ::testing::Test {
protected:
    explicit CrawlFixture(qint64 timeoutMs) : m_timeoutMs(timeoutMs) {}

    void SetUp() override {
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", temp.path().toLocal8Bit());
        RemovePageFolder();
        form.Form_Load();
        form.harvestRun().Settings.download.connectTimeoutMs = m_timeoutMs;
        form.harvestRun().Settings.download.stallMs = m_timeoutMs;
        form.harvestRun().Settings.download.retryBaseMs = 1;
        // One page at a time: these tests follow the order of the requests.
        form.harvestRun().Settings.download.parallel = 1;
    }
    void TearDown() override {
        server.stop();
        RemovePageFolder();
        qputenv("TEMP", m_savedTemp);
    }

    // The start button: starts a run, or during one, stops it.
    void press() { form.PushButton7_Click(); }

    void expectRunEnded(const std::vector<QString>& messages = {QStringLiteral("Done.")}) {
        EXPECT_EQ(shell.messageTexts(), messages);
        EXPECT_EQ(form.PushButton7Caption(), Form1::StartCaption);
        EXPECT_EQ(form.MousePointer(), Form1::PointerDefault);
        EXPECT_EQ(form.RunsInProgress(), 0);
        if (!PageFolder().isEmpty()) {
            EXPECT_TRUE(QDir(PageFolder()).isEmpty()) << "a page file was left behind";
        }
    }

    QTemporaryDir temp;
    ScriptedShell shell;
    Form1 form{shell};
    LoopbackServer server;

private:
    qint64 m_timeoutMs;
    QByteArray m_savedTemp;
};
