#pragma once

#include "base/CommonDialog.h"
#include "crawl/HarvestRun.h"
#include "crawl/RunHost.h"
#include "crawl/RunTally.h"
#include "lists/ListView.h"
#include "window/ResultsListSink.h"

#include <QObject>
#include <QString>
#include <QStringList>

class Shell;

// The main window without its widgets: the state a person sees (captions,
// pointer, options, the two lists) and every handler a person can trigger. The
// Qt view forwards events here and redraws from this state; the tests drive it
// directly. The handlers call into the lists, the exports and the run; each group
// has a file of its own here (RunCommand, UrlListCommands, ExportCommands,
// Startup).
class Form1 : public QObject, public RunHost {
    Q_OBJECT
public:
    // The window's controls, for the hover pointer rule.
    enum class Control {
        Form,
        ListView1,
        ListView2,
        Frame1,
        Option1,
        Option2,
        Check2,
        Check3,
        Check4,
        Depth1,
        PushButton1,
        PushButton2,
        PushButton3,
        PushButton5,
        PushButton6,
        PushButton7,
        PushButton9,
        PushButton11,
        PushButton13,
    };

    static constexpr int DeleteKey = 46;
    static constexpr int PointerDefault = 0;
    static constexpr int PointerHourglass = 11;
    static constexpr int PointerCustom = 99;

    explicit Form1(Shell& shell, QObject* parent = nullptr);
    ~Form1() override;

    Shell& shell() override { return m_shell; }
    // What a run reads live: the run flag, the kind of links, "Extract forever".
    bool keepRunning() const override { return RunFlag(); }
    bool recordsFileLinks() const override { return Option2(); }
    bool followsLinks() const override { return Check2() == 1; }
    void visitsGoOn() override { setMousePointer(PointerHourglass); }

    // The lists and the dialog.
    ListView ListView1;
    ListView ListView2;
    CommonDialog CommonDialog1;

    // The run the start button drives, and what it has done so far (the status line).
    HarvestRun& harvestRun() { return m_run; }
    RunTally& Tally() { return m_tally; }
    // How many runs of the start button are in progress (a stopped run winds down
    // while the button already shows its start caption again).
    int RunsInProgress() const { return m_runsInProgress; }

    // State shown by the window.
    const QString& Caption() const { return m_caption; }
    void setCaption(const QString& caption);
    const QString& PushButton7Caption() const { return m_pushButton7Caption; }
    void setPushButton7Caption(const QString& caption);
    int MousePointer() const { return m_mousePointer; }
    void setMousePointer(int pointer);
    bool Option1() const { return m_option1; }
    bool Option2() const { return !m_option1; }
    // The two option buttons are mutually exclusive: selecting one clears the other.
    void setOption1(bool selected);
    void setOption2(bool selected);
    int Check2() const { return m_check2; }
    void setCheck2(int value);
    // "Stay on the same site" and "Obey robots.txt": 1 = ticked.
    int Check3() const { return m_check3; }
    void setCheck3(int value);
    int Check4() const { return m_check4; }
    void setCheck4(int value);
    // The depth a crawl may go from each listed address, 0 to 99; 0 is no limit.
    int Depth1() const { return m_depth1; }
    // A value outside 0 to 99 is brought to the nearest end.
    void setDepth1(int value);
    static constexpr int MaxDepth1 = 99;
    // Narrows a crawl's scope by the three choices of the frame's second row, as a
    // run reads them at its start: the same site, robots.txt for every page, and
    // the depth. A scope narrower already (the same host, a smaller depth) stays so.
    void ApplyRunOptions(CrawlScope& scope) const;
    // The custom pointer file loaded at start-up, shown for MousePointer 99; empty
    // when none was loaded (99 then shows the system's pointing hand).
    const QString& MouseIconPath() const { return m_mouseIconPath; }
    // The window's icon: a freedesktop icon name, empty until start-up sets it.
    const QString& Icon() const { return m_icon; }
    void setIcon(const QString& icon);

    // The folder that holds the program file, where its companion file
    // HAND-M.CUR is looked for. Empty means the running program's own folder;
    // tests point it elsewhere.
    QString ApplicationFolder;
    QString AppPath() const;

    // The window counts as busy exactly while the hourglass shows.
    bool IsBusy() const { return m_mousePointer == PointerHourglass; }
    // The run flag: a run is in progress while the start button reads "Stop".
    bool RunFlag() const;

    // The caption of the start button as it stood when the current run started.
    QString SavedStartCaption;

    // Start-up and shutdown.
    void Form_Load();
    void Form_Unload();

    // Commands.
    void PushButton1_Click();  // "Save As Comma Delimited"
    void PushButton2_Click();  // "Load Sample/Example Sites"
    void PushButton3_Click();  // "Copy Results To Clipboard"
    void PushButton5_Click();  // "Add One URL"
    void PushButton6_Click();  // "Save Results As Text File"
    void PushButton7_Click();  // "Start Finding Links Within URL" / "Stop"
    void PushButton9_Click();  // "Clear Results"
    void PushButton11_Click(); // "Clear List"
    void PushButton13_Click(); // "Load URL List From File"

    // Appends addresses given on the command line to the URL list, each as "Add
    // One URL" appends an answer: as given, an empty one not at all.
    void AddAddresses(const QStringList& addresses);

    // List edits.
    void ListView1_KeyDown(int keyCode, int shift = 0);
    void ListView2_KeyDown(int keyCode, int shift = 0);
    void ListView1_DblClick();
    void ListView2_DblClick();

    // The hover pointer rule.
    void MouseMove(Control control);

    static const QString StartCaption;
    static const QString StopCaption;
    static const QString LongTitle;
    static const QString ApplicationIconName;

signals:
    void captionChanged();
    void pushButton7CaptionChanged();
    void mousePointerChanged();
    void optionsChanged();
    void iconChanged();
    void mouseIconChanged();

private:
    void removeSelected(ListView& list, int keyCode);
    void clearRunStatus();

    Shell& m_shell;
    RunTally m_tally;
    ResultsListSink m_sink{ListView2, m_tally, m_shell};
    HarvestRun m_run{*this, m_sink};
    int m_runsInProgress = 0;
    QString m_caption;
    QString m_pushButton7Caption;
    QString m_mouseIconPath;
    QString m_icon;
    int m_mousePointer = PointerDefault;
    bool m_option1 = true;
    int m_check2 = 0;
    int m_check3 = 0;
    int m_check4 = 0;
    int m_depth1 = 0;
};
