// The accuracy report: makes the synthetic scenes (videos written with
// cv::VideoWriter, with their boxes), runs each counting method over them
// through ProcessRun as the programs do, matches the count files against the
// true events one to one, and prints per scene and in total how many true
// events there were, how many were counted, found, missed and extra.
//
//   kestrin-accuracy [--scenes N] [--seed S] [--method classic|robust|both]
//                    [--fourcc MJPG|mp4v] [--dir DIR] [--totals]
//                    [--only INDEX] [--detail]

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "areacontour.h"
#include "eventmatcher.h"
#include "logging.h"
#include "processrun.h"
#include "resultfile.h"
#include "scenecatalog.h"

namespace {

const char *const kKindNames[] = { "crossings", "entries", "exits" };

struct Options
{
    int scenes = SceneCatalog::kDefaultCount;
    unsigned seed = 0;
    std::vector<CountingMethod::Kind> methods { CountingMethod::Classic, CountingMethod::Robust };
    std::string fourcc = "MJPG";
    QString dir;
    bool totalsOnly = false;
    int only = -1;
    bool detail = false;
};

bool parse(int argc, char *argv[], Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--scenes" && hasValue) {
            options.scenes = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--seed" && hasValue) {
            options.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--method" && hasValue) {
            const QString name = QString::fromLocal8Bit(argv[++i]);
            CountingMethod::Kind kind;
            if (name == QLatin1String("both"))
                options.methods = { CountingMethod::Classic, CountingMethod::Robust };
            else if (CountingMethod::kindFromName(name, &kind))
                options.methods = { kind };
            else
                return false;
        } else if (arg == "--fourcc" && hasValue && std::strlen(argv[i + 1]) == 4) {
            options.fourcc = argv[++i];
        } else if (arg == "--dir" && hasValue) {
            options.dir = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--only" && hasValue) {
            options.only = std::atoi(argv[++i]);
        } else if (arg == "--detail") {
            options.detail = true;
        } else if (arg == "--totals") {
            options.totalsOnly = true;
        } else {
            return false;
        }
    }
    return true;
}

// The count file of a run of `kind` over `video`, or false when the video
// cannot be processed.
bool countVideo(const QString &video, const GroundTruthScene &scene, CountingMethod::Kind kind,
    QVector<Result> &events)
{
    AreaContour zones;
    zones.loadArea(video);
    zones.loadMask(video);
    ProcessRun run;
    run.setCounting(kind);
    run.start(zones, scene.size(), { video });
    cv::VideoCapture capture;
    if (!run.openNext(capture))
        return false;
    cv::Mat frame;
    while (capture.read(frame))
        run.processFrame(frame);
    run.finishVideo();

    events.clear();
    ResultFile file;
    if (file.open(video, ResultFile::Read) != 1)
        return false;
    Result r;
    while (file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp) == 1)
        events.append(r);
    file.close();
    return true;
}

QString cell(const EventMatcher::Tally &t)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(t.truth, 4)
        .arg(t.counted, 4)
        .arg(t.found, 4)
        .arg(t.missed(), 4)
        .arg(t.extra(), 4);
}

QString percent(int part, int whole)
{
    return whole > 0 ? QStringLiteral("%1 %").arg(100.0 * part / whole, 5, 'f', 1)
                     : QStringLiteral("  -  ");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    kestrin::installMessagePattern();
    QLoggingCategory::setFilterRules(QStringLiteral("kestrin.*.debug=false"));
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
            "usage: kestrin-accuracy [--scenes N] [--seed S] [--method classic|robust|both]\n"
            "                        [--fourcc MJPG|mp4v] [--dir DIR] [--totals]\n"
            "                        [--only INDEX] [--detail]\n");
        return 2;
    }
    QTemporaryDir temporary;
    const QString dir = options.dir.isEmpty() ? temporary.path() : options.dir;
    if ((options.dir.isEmpty() && !temporary.isValid()) || !QDir().mkpath(dir)) {
        std::fprintf(
            stderr, "kestrin-accuracy: error: cannot make the folder %s\n", qPrintable(dir));
        return 1;
    }

    std::vector<EventMatcher::Tallies> totals(options.methods.size());
    std::printf("%-24s %-8s   %-24s   %-24s   %-24s\n", "scene", "method",
        "crossings: tru cnt fnd mis ext", "entries: tru cnt fnd mis ext",
        "exits: tru cnt fnd mis ext");
    for (int index = 0; index < options.scenes; ++index) {
        if (options.only >= 0 && index != options.only)
            continue;
        const GroundTruthScene scene = SceneCatalog::scene(index, options.seed);
        const QString suffix
            = options.fourcc == "MJPG" ? QStringLiteral(".avi") : QStringLiteral(".mp4");
        const QString video = QDir(dir).filePath(scene.name() + suffix);
        if (!scene.write(video, options.fourcc.c_str())) {
            std::fprintf(stderr, "kestrin-accuracy: error: cannot write %s with %s\n",
                qPrintable(video), options.fourcc.c_str());
            return 1;
        }
        const std::vector<GroundTruthScene::Event> truth = scene.truth();
        const EventMatcher matcher = EventMatcher::forScene(scene);
        for (size_t m = 0; m < options.methods.size(); ++m) {
            QVector<Result> counted;
            if (!countVideo(video, scene, options.methods[m], counted)) {
                std::fprintf(
                    stderr, "kestrin-accuracy: error: cannot process %s\n", qPrintable(video));
                return 1;
            }
            std::vector<bool> truthFound;
            std::vector<bool> countedFound;
            const EventMatcher::Tallies tallies
                = matcher.match(truth, counted, &truthFound, &countedFound);
            if (options.detail) {
                for (size_t i = 0; i < truth.size(); ++i)
                    std::printf("  true    %5d %4d %4d %-9s %-6s insect %d: %s\n", truth[i].frame,
                        truth[i].position.x, truth[i].position.y, kKindNames[truth[i].kind],
                        truthFound[i] ? "found" : "MISSED", truth[i].insect,
                        qPrintable(scene.swarm()[static_cast<size_t>(truth[i].insect)].behaviour));
                for (int i = 0; i < counted.size(); ++i)
                    std::printf("  counted %5.0f %4d %4d %-9s %s\n", counted[i].frame, counted[i].x,
                        counted[i].y, kKindNames[EventMatcher::kindOf(counted[i])],
                        countedFound[static_cast<size_t>(i)] ? "" : "EXTRA");
            }
            for (size_t k = 0; k < tallies.size(); ++k)
                totals[m][k] += tallies[k];
            if (!options.totalsOnly)
                std::printf("%-24s %-8s   %s   %s   %s\n", qPrintable(scene.name()),
                    qPrintable(CountingMethod::kindName(options.methods[m])),
                    qPrintable(cell(tallies[0])), qPrintable(cell(tallies[1])),
                    qPrintable(cell(tallies[2])));
        }
        std::fflush(stdout);
    }

    std::printf("\nTotals over %d scenes (seed %u): true, counted, found, missed, extra; "
                "found and extra as a share of the true events\n",
        options.scenes, options.seed);
    for (size_t m = 0; m < options.methods.size(); ++m) {
        for (size_t k = 0; k < 3; ++k) {
            const EventMatcher::Tally &t = totals[m][k];
            std::printf("%-8s %-10s %s   found %s   extra %s\n",
                qPrintable(CountingMethod::kindName(options.methods[m])), kKindNames[k],
                qPrintable(cell(t)), qPrintable(percent(t.found, t.truth)),
                qPrintable(percent(t.extra(), t.truth)));
        }
    }
    return 0;
}
