#pragma once

#include "plan/plan.h"
#include "plan/runevent.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

namespace Ui {
class Form1;
}

namespace archivon {

class BackupEngine;
class RunLog;
class RunView;

/// The main window: the computer, the user name, the four folder pairs and
/// everything the backup run shows while it works.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    Ui::Form1* ui() const { return m_ui.get(); }

    /// Files found by the folder scan.
    qint64 NumeroFile = 0;
    /// Seconds counted by the estimate timer since the run started.
    double SecondiTrascorsi = 0;
    /// Stop flags set by a stop request, read by the pair pass before every file.
    bool InPausa = false;
    bool Interruzione = false;
    /// Last measurements of the backup run; empty until measured.
    std::optional<qint64> SpazioLibero;
    std::optional<qint64> DimensioneSorgente;

    /// Ticks once a second while the estimate runs.
    QTimer Timer_stima;

    /// Fills in the job (computer, user, the four pairs) and makes sure the
    /// backup folder exists on drive R:.
    void Form_Load();

    /// The run started by the start button, while it lasts and after; null
    /// before the first.
    BackupEngine* engine() const { return m_engine.get(); }
    /// The pairs of the current or last run, as they were confirmed.
    const BackupPlan& plan() const { return m_plan; }
    /// The record of every run started here.
    RunLog& runLog() { return *m_log; }
    /// Maps the run's reports onto the controls.
    RunView& view() { return *m_view; }

    void Command3_Click();
    void Check1_Click();
    void Timer_stima_Timer();
    /// Asks the system for a forced shutdown, then a forced log-off.
    void Spegni_PC();
    void Command5_Click();

    /// Choose the source (Command1) or destination (Command2) folder through
    /// the folder picker; show the information box (Command4).
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    /// Keeps a trailing backslash on the chosen destination.
    void Text_destinazione_Change();
    /// Rescales every control in proportion to the window's size.
    void Form_Resize();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void reported(const RunEvent& event);
    /// The box of a run's end, and the shutdown it asks for.
    void tellEnd(const RunEnd& end);
    void setPairsEditable(bool editable);
    void refuse(const QString& message);
    void Form_Unload();
    void connectCommands();

    std::unique_ptr<Ui::Form1> m_ui;
    std::unique_ptr<RunLog> m_log;
    std::unique_ptr<RunView> m_view;
    std::unique_ptr<BackupEngine> m_engine;
    BackupPlan m_plan;
    /// From a confirmed start until the window has taken the run's end.
    bool m_runActive = false;
    /// While the stop question is open, and the end that came meanwhile.
    bool m_asking = false;
    std::optional<RunEnd> m_endWhileAsked;
    /// Samples the run's progress for the view, twenty times a second.
    QTimer m_sampler;
};

} // namespace archivon
