#pragma once

#include <QString>

#include "report/activitybins.h"
#include "report/foldersummary.h"

// Writes a folder's summary files into its exportCSV: summary.csv,
// activity.csv, and the activity chart as activity.png and activity.svg.
// Each file is written complete or not at all, and only in place of a
// regular file (never through a symbolic link).
class SummaryReport
{
public:
    SummaryReport() = delete;

    enum class ChartFormat { Png, Svg };

    // False at the first file that cannot be written, with the file and the
    // system's reason in `error`.
    static bool write(const FolderSummary &summary, const ActivityBins &activity, QString *error);

    // The chart alone, in `format` whatever the file's suffix.
    static bool saveChart(const FolderSummary &summary, const ActivityBins &activity,
        const QString &path, ChartFormat format, QString *error);
    // The chart's title: the folder's name.
    static QString title(const FolderSummary &summary);
};
