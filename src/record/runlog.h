#pragma once

#include "plan/runevent.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace archivon {

/// What a run's record says of its run, read back: by the next run, which
/// carries the last run without failures over, and by the overview of every
/// computer. Records of older versions, which lack the summary line, parse
/// too, from their start and outcome lines.
struct RunRecord
{
    /// A record of this program at all.
    bool parsed = false;
    /// The summary line was there (older records lack it).
    bool summarised = false;
    QString computer; // empty in older records
    QString user;
    QString backupRoot;
    QDateTime started;
    QDateTime ended; // invalid when the run never ended (killed, or still going)
    /// "completato", "con-errori", "interrotto" (stopped, or the window
    /// closed), "terminato" (ended early: no room, or the drive lost),
    /// "rifiutato", "bloccato" (another run held the lock); empty when the
    /// record has no outcome.
    QString outcome;
    int failures = -1;
    int skipped = -1;
    /// The start of the last run of this computer that completed without
    /// failures, as far as the records tell; invalid when unknown.
    QDateTime lastClean;
    qint64 bytesWritten = -1;
    /// What the backups of the pairs this run copied hold once it ended (their
    /// sources as walked); -1 in older records.
    qint64 bytesKept = -1;
    /// The recorded bytes of the earlier versions kept at its end; -1 in older records.
    qint64 versionBytes = -1;
    /// How far back the backup could be given back once the run ended;
    /// unknown in older records.
    RestoreReach reach;
    QString status;
};

/// Reads a record written by RunLog, of this version or an older one.
RunRecord parseRunRecord(const QString& text);

/// The record of every backup run: one text file per run in the state folder
/// ($XDG_STATE_HOME/archivon, normally ~/.local/state/archivon), of which the
/// last kKept are kept, a copy of the latest at the top of the computer's
/// backup folder, and one summary line on standard error.
///
/// Lines are written as the run goes, so a run that is killed, or a computer
/// that is shut down, leaves its record so far. What cannot be written where it
/// belongs is said on standard error, never dropped.
class RunLog final
{
public:
    /// Logs kept in the state folder, the current one included.
    static constexpr int kKept = 30;
    /// Name of the copy in the backup folder.
    static inline const QString kCopyName = QStringLiteral("archivon.log");

    /// The state folder the logs go to (host path).
    static QString folder();

    /// A message (or, with label "Domanda", a question) that a box would have
    /// shown, when nobody is there to see it. Noted before a run starts, it
    /// opens that run's record.
    void note(const QString& text, const QString& label = QStringLiteral("Messaggio"));

    /// Host path of the current or last log; empty before the first run.
    QString path() const { return m_path; }

    /// Called once a run's record is complete, with how the run ended.
    std::function<void(const RunEnd&)> onEnded;

    /// Takes one report of the run, in the order the engine made them.
    void report(const RunEvent& event);

    /// Records the end of a run that never started: refused by the checks, or
    /// No to the question.
    void refused(const QString& message);

private:
    void runStarted(const RunEvent& event);
    void runEnded(const RunEnd& end);
    void writeVersions(const VersionsKept& versions, int days);
    void open();
    void write(const QString& line);
    void rotate() const;
    bool copyToBackupFolder(QString& error) const;

    bool m_open = false;
    bool m_fileFailed = false;
    QString m_path;
    QString m_backupRoot;
    QDateTime m_started;
    QDateTime m_lastClean; // carried over from the record on R:
    qint64 m_bytesWritten = 0;
    qint64 m_bytesKept = 0;
    qint64 m_bytesScanned = 0; // of the pair being copied
    QStringList m_lines;   // the whole record of the current run
    QStringList m_pending; // notes made before a run started
};

} // namespace archivon
