#pragma once

#include <QString>

#include "activitybins.h"
#include "foldersummary.h"

// Writes a folder's summary files into its exportCSV: summary.csv,
// activity.csv, and the activity chart as activity.png and activity.svg.
// Each file is written complete or not at all.
class SummaryReport
{
public:
    SummaryReport() = delete;

    // False at the first file that cannot be written, with the file and the
    // system's reason in `error`.
    static bool write(const FolderSummary &summary, const ActivityBins &activity, QString *error);

    // The chart alone, as PNG or SVG by the file's suffix (PNG unless .svg).
    static bool saveChart(const FolderSummary &summary, const ActivityBins &activity,
        const QString &path, QString *error);
    // The chart's title: the folder's name.
    static QString title(const FolderSummary &summary);
};
