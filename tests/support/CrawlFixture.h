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
// and page files in a temporary TEMP that is checked for leftovers.
class CrawlFixture : public ::testing::Test {
protected:
    explicit CrawlFixture(int timeoutSeconds) : m_timeoutSeconds(timeoutSeconds) {}

    void SetUp() override {
        m_savedTemp = qgetenv("TEMP");
        qputenv("TEMP", temp.path().toLocal8Bit());
        RemovePageFolder();
        form.Form_Load();
        form.harvestRun().Settings.download.connectTimeoutSeconds = m_timeoutSeconds;
        form.harvestRun().Settings.download.stallSeconds = m_timeoutSeconds;
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
    int m_timeoutSeconds;
    QByteArray m_savedTemp;
};
