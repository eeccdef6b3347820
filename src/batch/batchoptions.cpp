#include "batchoptions.h"

#include <algorithm>

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

const char description[]
    = "Counts the insects of recorded videos as the window's \"Process\" does, without a "
      "window.\n"
      "VIDEO plays the video current when \"Process\" is pressed: its boxes and frame size "
      "serve the run, and its folder holds the videos of modes all and unprocessed.\n"
      "With --summary, summarises the count files of DIR instead: writes "
      "exportCSV/summary.csv, activity.csv, activity.png and activity.svg and prints the "
      "totals.\n"
      "Exit status: 0 done, 1 error (the only video failed, or nothing could start), 2 bad "
      "command line, 3 some videos failed or were skipped, 128+N stopped by signal N.\n"
      "With --make-demo DIR it writes two short demonstration videos with their boxes into "
      "DIR instead.";

} // namespace

bool BatchOptions::wantsSummary(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--summary")
            || argument.startsWith(QLatin1String("--summary=")))
            return true;
    }
    return false;
}

BatchOptions BatchOptions::parse(const QStringList &arguments)
{
    BatchOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption mode(QStringLiteral("mode"),
        QStringLiteral("Videos to process: one (VIDEO, the default), all (every *.mp4 of its "
                       "folder) or unprocessed (those without a count file)."),
        QStringLiteral("one|all|unprocessed"), QStringLiteral("one"));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
        QStringLiteral("Process the queued videos as independent one-video runs, N at a time "
                       "(no tracks carried over from one video to the next)."),
        QStringLiteral("N"));
    const QCommandLineOption counting(QStringLiteral("counting"),
        QStringLiteral("How detections become tracks and counts: classic (the default) or robust "
                       "(no identity swaps, no counts from hovering or jitter, entries and exits "
                       "from the whole approach)."),
        QStringLiteral("classic|robust"), QStringLiteral("classic"));
    const QCommandLineOption quiet(
        QStringLiteral("quiet"), QStringLiteral("No progress line and no per-frame debug log."));
    const QCommandLineOption boxesOption(QStringLiteral("boxes"),
        QStringLiteral("Whose boxes count each queued video: current (VIDEO's, the default, as "
                       "the window does; a warning names each video whose own boxes differ) or "
                       "own (each video's own box files where it has usable ones, else VIDEO's)."),
        QStringLiteral("current|own"), QStringLiteral("current"));
    const QCommandLineOption tracks(QStringLiteral("tracks"),
        QStringLiteral("Also write each video's tracks to exportCSV/<name>_tracks.csv."));
    const QCommandLineOption summary(QStringLiteral("summary"),
        QStringLiteral("Summarise the count files of DIR instead of processing."),
        QStringLiteral("DIR"));
    const QCommandLineOption bin(QStringLiteral("bin"),
        QStringLiteral("Time bins of the summary's activity: 10m, 1h (the default) or 1d."),
        QStringLiteral("10m|1h|1d"), QStringLiteral("1h"));
    QCommandLineOption boxes(QStringLiteral("boxes-from"), QString(), QStringLiteral("video"));
    boxes.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption zonesFile(QStringLiteral("zones-file"), QString(), QStringLiteral("file"));
    zonesFile.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions(
        { mode, counting, jobs, boxesOption, tracks, quiet, summary, bin, boxes, zonesFile });
    const QCommandLineOption shard(QStringLiteral("shard"),
        QStringLiteral("With --mode all or unprocessed: take only every N-th video of the "
                       "folder in name order, from the I-th (0-based), each as an independent "
                       "one-video run. N shards together process the whole folder."),
        QStringLiteral("I/N"));
    const QCommandLineOption makeDemo(QStringLiteral("make-demo"),
        QStringLiteral("Write demonstration videos with their boxes into DIR (made when "
                       "missing; existing files are never replaced) and exit."),
        QStringLiteral("DIR"));
    parser.addOptions({ shard, makeDemo });
    parser.addPositionalArgument(
        QStringLiteral("VIDEO"), QStringLiteral("The video whose boxes serve the run."));

    const QString usage = QStringLiteral("Usage: kestrin-batch [--mode one|all|unprocessed] "
                                         "[--counting classic|robust] [--jobs N]\n"
                                         "                     [--boxes current|own] [--tracks] "
                                         "[--shard I/N] [--quiet] VIDEO\n"
                                         "       kestrin-batch --summary DIR [--bin 10m|1h|1d]\n"
                                         "       kestrin-batch --make-demo DIR");
    if (!parser.parse(arguments)) {
        options.text = parser.errorText() + QLatin1Char('\n') + usage;
        return options;
    }
    if (parser.isSet(help)) {
        options.action = Action::Help;
        options.text = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.action = Action::Version;
        options.text = QCoreApplication::applicationName() + QLatin1Char(' ')
            + QCoreApplication::applicationVersion();
        return options;
    }

    if (parser.isSet(makeDemo)) {
        options.demoDir = parser.value(makeDemo);
        if (options.demoDir.isEmpty() || !parser.positionalArguments().isEmpty()) {
            options.text = QStringLiteral("--make-demo needs a folder and no VIDEO.\n") + usage;
            return options;
        }
        options.action = Action::MakeDemo;
        return options;
    }

    if (parser.isSet(summary)) {
        const QStringList others { QStringLiteral("mode"), QStringLiteral("counting"),
            QStringLiteral("jobs"), QStringLiteral("boxes"), QStringLiteral("tracks"),
            QStringLiteral("boxes-from"), QStringLiteral("shard"), QStringLiteral("make-demo") };
        for (const QString &name : others) {
            if (parser.isSet(name)) {
                options.text
                    = QStringLiteral("--%1 does not go with --summary.\n").arg(name) + usage;
                return options;
            }
        }
        if (!parser.positionalArguments().isEmpty()) {
            options.text = QStringLiteral("--summary takes no VIDEO.\n") + usage;
            return options;
        }
        if (!ActivityBins::parseWidth(parser.value(bin), options.bin)) {
            options.text
                = QStringLiteral("Unknown bin \"%1\": 10m, 1h or 1d.\n").arg(parser.value(bin))
                + usage;
            return options;
        }
        if (parser.value(summary).isEmpty()) {
            options.text = QStringLiteral("--summary needs a folder.\n") + usage;
            return options;
        }
        options.summaryDir = parser.value(summary);
        options.quiet = parser.isSet(quiet);
        options.action = Action::Summary;
        return options;
    }
    if (parser.isSet(bin)) {
        options.text = QStringLiteral("--bin goes with --summary only.\n") + usage;
        return options;
    }

    const QString modeName = parser.value(mode);
    if (modeName == QLatin1String("one")) {
        options.mode = ProcessRun::One;
    } else if (modeName == QLatin1String("all")) {
        options.mode = ProcessRun::All;
    } else if (modeName == QLatin1String("unprocessed")) {
        options.mode = ProcessRun::Unprocessed;
    } else {
        options.text
            = QStringLiteral("Unknown mode \"%1\": one, all or unprocessed.\n").arg(modeName)
            + usage;
        return options;
    }
    if (!CountingMethod::kindFromName(parser.value(counting), &options.counting)) {
        options.text = QStringLiteral("Unknown counting method \"%1\": classic or robust.\n")
                           .arg(parser.value(counting))
            + usage;
        return options;
    }
    if (parser.value(boxesOption) == QLatin1String("own")) {
        options.boxes = Boxes::Own;
    } else if (parser.value(boxesOption) != QLatin1String("current")) {
        options.text = QStringLiteral("Unknown boxes \"%1\": current or own.\n")
                           .arg(parser.value(boxesOption))
            + usage;
        return options;
    }
    if (parser.isSet(jobs)) {
        bool ok = false;
        options.jobs = parser.value(jobs).toInt(&ok);
        if (!ok || options.jobs < 1) {
            options.text
                = QStringLiteral("--jobs needs a whole number of at least 1, not \"%1\".\n")
                      .arg(parser.value(jobs))
                + usage;
            return options;
        }
    }
    if (parser.isSet(shard)) {
        if (!parseShard(parser.value(shard), options.shardIndex, options.shardCount)) {
            options.text = QStringLiteral("--shard needs I/N with whole numbers 0 <= I < N, not "
                                          "\"%1\".\n")
                               .arg(parser.value(shard))
                + usage;
            return options;
        }
        if (options.mode == ProcessRun::One) {
            options.text = QStringLiteral("--shard needs --mode all or unprocessed.\n") + usage;
            return options;
        }
    }
    options.quiet = parser.isSet(quiet);
    options.tracks = parser.isSet(tracks);
    options.boxSource = parser.value(boxes);
    if (parser.isSet(boxes) && options.boxSource.isEmpty()) {
        options.text = QStringLiteral("--boxes-from needs a video.\n") + usage;
        return options;
    }
    options.zonesFile = parser.value(zonesFile);
    if (!options.zonesFile.isEmpty() && options.boxSource.isEmpty()) {
        options.text = QStringLiteral("--zones-file needs --boxes-from.\n") + usage;
        return options;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || positional.first().isEmpty()) {
        options.text = (positional.isEmpty() ? QStringLiteral("No VIDEO given.\n")
                                             : QStringLiteral("Exactly one VIDEO is needed.\n"))
            + usage;
        return options;
    }
    options.video = positional.first();
    options.action = Action::Run;
    return options;
}

bool BatchOptions::parseShard(const QString &text, int &index, int &count)
{
    const QStringList parts = text.split(QLatin1Char('/'));
    if (parts.size() != 2)
        return false;
    // toInt accepts blanks and signs; a shard is plain digits only.
    for (const QString &part : parts) {
        if (part.isEmpty()
            || std::any_of(part.begin(), part.end(), [](QChar c) { return !c.isDigit(); }))
            return false;
    }
    bool indexOk = false;
    bool countOk = false;
    const int i = parts[0].toInt(&indexOk);
    const int n = parts[1].toInt(&countOk);
    if (!indexOk || !countOk || n < 1 || i >= n)
        return false;
    index = i;
    count = n;
    return true;
}
