#pragma once

#include <QString>

// A folder of five videos whose results the summary reads, made without
// processing: two processed recordings an hour apart, one cancelled part
// way, one not processed, and one whose name carries no recording date
// (processed by an older version, so without a run record). The videos
// themselves are stand-in bytes.
namespace samplefolder {

const QString first = QStringLiteral("video_20150612_0930_01.mp4");
const QString second = QStringLiteral("video_20150612_1030_02.mp4");
const QString partial = QStringLiteral("video_20150612_1230_03.mp4");
const QString unprocessed = QStringLiteral("video_20150612_1330_04.mp4");
const QString undated = QStringLiteral("clip.mp4");

// Writes the folder's videos, count files and run records; false when a
// file could not be written.
bool make(const QString &dir);

} // namespace samplefolder
