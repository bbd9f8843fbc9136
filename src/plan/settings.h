#pragma once

// What the user's settings ask of a run, and the options a run is started with.

#include "plan/layout.h"

#include <QString>

namespace archivon {

/// How a run goes, beside its plan.
struct RunOptions
{
    /// Build each pair's copy anew beside the old one and swap them,
    /// instead of bringing the backup up to date in place.
    bool fullRewrite = false;
    /// Shut the computer down at the end; read when the run completes.
    bool shutdownAtEnd = false;
    /// What a run removes or replaces is kept this many days in the
    /// backup's earlier versions; 0 keeps none, and removes as it goes.
    int versionDays = versions::kDefaultDays;
};

/// True when the user's settings ask for every run to rewrite each pair whole:
/// CopiaCompleta=true in $XDG_CONFIG_HOME/archivon/archivon.conf.
bool fullRewriteConfigured();

/// The days earlier versions are kept: GiorniVersioni under [General] in the
/// user's settings, a whole number of days, 0 for no new versions. Missing, it
/// is the default; a value that is not such a number keeps them the default
/// days too, rather than none, and \a problem tells the user why.
int versionDaysConfigured(QString* problem = nullptr);

} // namespace archivon
