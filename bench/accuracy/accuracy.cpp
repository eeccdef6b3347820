// The accuracy report: makes the synthetic scenes (videos written with
// cv::VideoWriter, with their boxes), runs each counting method over them
// through ProcessRun as the programs do, matches the count files against the
// true events one to one, and prints how many true events there were, how
// many were counted, found, missed and extra, and of the crossings found
// with a direction how many have the true one. The same for a real
// recording whose truth was made by hand (bench/accuracy/real).
//
//   kestrin-accuracy [--set classic|broad] [--tuning] [--held-out] [--real]
//                    [--seed S] [--scenes N] [--method classic|robust|both]
//                    [--fourcc CODE] [--dir DIR] [--totals] [--only INDEX]
//                    [--detail] [--jobs N]
//
// With none of --tuning, --held-out, --real and --seed it runs all three.
// --jobs runs a program of its own (--unit) per seed and for the real clip,
// N side by side; they print their tallies (#tally lines) for this one, and
// keep their videos only when --dir was given (else --scratch).

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include "logging.h"
#include "run/rundriver.h"
#include "scenes/eventmatcher.h"
#include "scenes/realclip.h"
#include "scenes/scenecatalog.h"
#include "zones/resultfile.h"
#include "zones/videofiles.h"

namespace {

const char *const kKindNames[] = { "crossings", "entries", "exits" };
// The scenes the robust method may be tuned on, and the ones it may not:
// these are reported in total only.
const std::vector<unsigned> kTuningSeeds { 0, 5, 11 };
const std::vector<unsigned> kHeldOutSeeds { 37, 41, 53, 61, 71, 83, 97 };

using Methods = std::vector<CountingMethod::Kind>;
using Totals = std::vector<EventMatcher::Tallies>; // per method

struct Options
{
    SceneCatalog::Set set = SceneCatalog::Set::Broad;
    int scenes = -1; // all of the set
    std::vector<unsigned> seeds;
    bool tuning = false;
    bool heldOut = false;
    bool real = false;
    Methods methods { CountingMethod::Classic, CountingMethod::Robust };
    std::string fourcc; // the scene's own when empty
    QString dir;
    bool keepVideos = false; // in a folder of the caller's
    bool totalsOnly = false;
    int only = -1;
    bool detail = false;
    int jobs = std::max(1, QThread::idealThreadCount()); // programs side by side
    bool unit = false; // one of those: prints its tallies for the caller
};

bool parse(int argc, char *argv[], Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--set" && hasValue) {
            const std::string name = argv[++i];
            if (name == "classic")
                options.set = SceneCatalog::Set::Classic;
            else if (name == "broad")
                options.set = SceneCatalog::Set::Broad;
            else
                return false;
        } else if (arg == "--scenes" && hasValue) {
            options.scenes = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--seed" && hasValue) {
            options.seeds.push_back(static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10)));
        } else if (arg == "--tuning") {
            options.tuning = true;
        } else if (arg == "--held-out") {
            options.heldOut = true;
        } else if (arg == "--real") {
            options.real = true;
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
        } else if ((arg == "--dir" || arg == "--scratch") && hasValue) {
            options.dir = QString::fromLocal8Bit(argv[++i]);
            options.keepVideos = arg == "--dir";
        } else if (arg == "--only" && hasValue) {
            options.only = std::atoi(argv[++i]);
        } else if (arg == "--detail") {
            options.detail = true;
        } else if (arg == "--totals") {
            options.totalsOnly = true;
        } else if (arg == "--jobs" && hasValue) {
            options.jobs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--unit") {
            options.unit = true;
        } else {
            return false;
        }
    }
    if (options.unit)
        return options.seeds.size() + (options.real ? 1 : 0) == 1;
    if (!options.tuning && !options.heldOut && !options.real && options.seeds.empty()) {
        options.tuning = true;
        options.heldOut = true;
        options.real = true;
    }
    // Held-out scenes are never looked at one by one.
    return !(options.heldOut && (options.detail || options.only >= 0));
}

// The count file of a run of `kind` over `video` (its box files beside it),
// or false when the video cannot be processed.
bool countVideo(
    const QString &video, cv::Size size, CountingMethod::Kind kind, QVector<Result> &events)
{
    RunDriver driver;
    driver.setCounting(kind);
    if (!driver.runAlone(video, size))
        return false;
    std::optional<QVector<Result>> counted = ResultFile::readAll(VideoFiles::resultFile(video));
    events = counted.value_or(QVector<Result>());
    return counted.has_value();
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

void printHeader(const char *first)
{
    std::printf("%-44s %-8s   %-24s %-7s   %-24s   %-24s\n", first, "method",
        "crossings: tru cnt fnd mis ext", "dir ok", "entries: tru cnt fnd mis ext",
        "exits: tru cnt fnd mis ext");
}

void printRow(const QString &name, CountingMethod::Kind method, const EventMatcher::Tallies &t)
{
    std::printf("%-44s %-8s   %s %7s   %s   %s\n", qPrintable(name),
        qPrintable(CountingMethod::kindName(method)), qPrintable(cell(t[0])),
        qPrintable(QStringLiteral("%1/%2").arg(t[0].directionRight).arg(t[0].directed)),
        qPrintable(cell(t[1])), qPrintable(cell(t[2])));
}

void printTotals(const QString &title, const Methods &methods, const Totals &totals)
{
    std::printf("\n%s: true, counted, found, missed, extra; found and extra as a share of the "
                "true events\n",
        qPrintable(title));
    for (size_t m = 0; m < methods.size(); ++m) {
        for (size_t k = 0; k < 3; ++k) {
            const EventMatcher::Tally &t = totals[m][k];
            std::printf("%-8s %-10s %s   found %s   extra %s",
                qPrintable(CountingMethod::kindName(methods[m])), kKindNames[k],
                qPrintable(cell(t)), qPrintable(percent(t.found, t.truth)),
                qPrintable(percent(t.extra(), t.truth)));
            if (k == GroundTruthScene::Crossing)
                std::printf("   direction right %d of %d with one", t.directionRight, t.directed);
            std::printf("\n");
        }
    }
    std::fflush(stdout);
}

void printDetail(const std::vector<GroundTruthScene::Event> &truth, const QVector<Result> &counted,
    const std::vector<bool> &truthFound, const std::vector<bool> &countedFound,
    const EventMatcher &matcher, const GroundTruthScene *scene)
{
    for (size_t i = 0; i < truth.size(); ++i)
        std::printf("  true    %5d %4d %4d %-9s %-6s %s\n", truth[i].frame, truth[i].position.x,
            truth[i].position.y, kKindNames[truth[i].kind], truthFound[i] ? "found" : "MISSED",
            scene ? qPrintable(
                QStringLiteral("insect %1: %2")
                    .arg(truth[i].insect)
                    .arg(scene->swarm()[static_cast<size_t>(truth[i].insect)].behaviour))
                  : "");
    for (int i = 0; i < counted.size(); ++i)
        std::printf("  counted %5.0f %4d %4d %-9s in %d out %d %s\n", counted[i].frame,
            counted[i].x, counted[i].y, kKindNames[matcher.eventKind(counted[i])], counted[i].in,
            counted[i].out, countedFound[static_cast<size_t>(i)] ? "" : "EXTRA");
}

class Report
{
public:
    Report(const Options &options, const QString &dir)
        : options(options)
        , dir(dir)
    {
    }

    // Every scene of the set for each seed, added to `totals`; per scene
    // rows when `perScene`.
    bool runScenes(const std::vector<unsigned> &seeds, bool perScene, Totals &totals) const;
    // The real clip at its line and at its box, added to `totals`; false
    // with a message on failure, true when done or skipped (`skipped`).
    bool runReal(const QString &videoFolder, const QString &truthFolder, Totals &totals,
        bool &skipped) const;

private:
    bool countAndMatch(const QString &video, cv::Size size, EventMatcher matcher,
        const std::vector<GroundTruthScene::Event> &truth, const GroundTruthScene *scene,
        const QString &rowName, bool perScene, Totals &totals) const;

    const Options &options;
    QString dir;
};

bool Report::countAndMatch(const QString &video, cv::Size size, EventMatcher matcher,
    const std::vector<GroundTruthScene::Event> &truth, const GroundTruthScene *scene,
    const QString &rowName, bool perScene, Totals &totals) const
{
    // A walker is on the line for seconds: a count while it is is in time.
    matcher.setTouchWindows(true);
    for (size_t m = 0; m < options.methods.size(); ++m) {
        QVector<Result> counted;
        if (!countVideo(video, size, options.methods[m], counted)) {
            std::fprintf(stderr, "kestrin-accuracy: error: cannot process %s\n", qPrintable(video));
            return false;
        }
        std::vector<bool> truthFound;
        std::vector<bool> countedFound;
        const EventMatcher::Tallies tallies
            = matcher.match(truth, counted, &truthFound, &countedFound);
        if (options.detail && perScene)
            printDetail(truth, counted, truthFound, countedFound, matcher, scene);
        for (size_t k = 0; k < tallies.size(); ++k)
            totals[m][k] += tallies[k];
        if (perScene && !options.totalsOnly)
            printRow(rowName, options.methods[m], tallies);
    }
    std::fflush(stdout);
    return true;
}

bool Report::runScenes(const std::vector<unsigned> &seeds, bool perScene, Totals &totals) const
{
    const int count = options.scenes > 0 ? options.scenes : SceneCatalog::count(options.set);
    for (const unsigned seed : seeds) {
        for (int index = 0; index < count; ++index) {
            if (options.only >= 0 && index != options.only)
                continue;
            const GroundTruthScene scene = SceneCatalog::scene(options.set, index, seed);
            const std::string fourcc = options.fourcc.empty()
                ? SceneCatalog::fourcc(options.set, index)
                : options.fourcc;
            const QString video = QDir(dir).filePath(scene.name()
                + (fourcc == "MJPG" ? QStringLiteral(".avi") : QStringLiteral(".mp4")));
            if (!scene.write(video, fourcc.c_str())) {
                std::fprintf(stderr, "kestrin-accuracy: error: cannot write %s with %s\n",
                    qPrintable(video), fourcc.c_str());
                return false;
            }
            if (!countAndMatch(video, scene.size(), EventMatcher::forScene(scene), scene.truth(),
                    &scene, QStringLiteral("%1 seed %2").arg(scene.name()).arg(seed), perScene,
                    totals))
                return false;
            if (!options.keepVideos && !QFile::remove(video)) {
                std::fprintf(
                    stderr, "kestrin-accuracy: error: cannot remove %s\n", qPrintable(video));
                return false;
            }
        }
    }
    return true;
}

bool Report::runReal(
    const QString &videoFolder, const QString &truthFolder, Totals &totals, bool &skipped) const
{
    const QString source = QDir(videoFolder).filePath(QString::fromLatin1(RealClip::kVideo));
    skipped = !QFileInfo(source).isFile();
    if (skipped)
        return true;
    QString problem;
    const std::optional<RealClip> clip = RealClip::load(truthFolder, &problem);
    if (!clip) {
        std::fprintf(stderr, "kestrin-accuracy: error: %s\n", qPrintable(problem));
        return false;
    }
    cv::VideoCapture probe(QFile::encodeName(source).toStdString());
    const cv::Size size(static_cast<int>(probe.get(cv::CAP_PROP_FRAME_WIDTH)),
        static_cast<int>(probe.get(cv::CAP_PROP_FRAME_HEIGHT)));
    const double fps = probe.get(cv::CAP_PROP_FPS);
    probe.release();
    if (size.area() <= 0 || fps <= 0) {
        std::fprintf(stderr, "kestrin-accuracy: error: cannot read %s\n", qPrintable(source));
        return false;
    }
    for (const bool atLine : { true, false }) {
        // A copy per counting box, as its files lie beside the video.
        const QString video = QDir(dir).filePath(
            atLine ? QStringLiteral("flies_line.mp4") : QStringLiteral("flies_box.mp4"));
        if (QFileInfo::exists(video) && !QFile::remove(video)) {
            std::fprintf(stderr, "kestrin-accuracy: error: cannot remove %s\n", qPrintable(video));
            return false;
        }
        QFile original(source);
        if (!original.copy(video)) {
            std::fprintf(stderr, "kestrin-accuracy: error: cannot copy %s to %s: %s\n",
                qPrintable(source), qPrintable(video), qPrintable(original.errorString()));
            return false;
        }
        GroundTruthScene::saveBoxes(video, atLine ? clip->line() : clip->box(), clip->tracking());
        if (!countAndMatch(video, size, EventMatcher::forVideo(fps, size, atLine),
                clip->truth(atLine), nullptr,
                atLine ? QStringLiteral("flies, counting line")
                       : QStringLiteral("flies, counting box"),
                true, totals))
            return false;
    }
    return true;
}

// One seed's scenes, or the real clip, in a program of its own.
struct Unit
{
    int group = 0;
    unsigned seed = 0;
    bool real = false;
};

QStringList unitArguments(const Options &options, const Unit &unit, const QString &dir)
{
    QStringList arguments { QStringLiteral("--unit"), QStringLiteral("--set"),
        options.set == SceneCatalog::Set::Classic ? QStringLiteral("classic")
                                                  : QStringLiteral("broad"),
        options.keepVideos ? QStringLiteral("--dir") : QStringLiteral("--scratch"),
        QDir(dir).filePath(
            unit.real ? QStringLiteral("real") : QStringLiteral("seed%1").arg(unit.seed)) };
    if (unit.real)
        arguments << QStringLiteral("--real");
    else
        arguments << QStringLiteral("--seed") << QString::number(unit.seed);
    if (options.methods.size() == 1)
        arguments << QStringLiteral("--method") << CountingMethod::kindName(options.methods[0]);
    if (options.scenes > 0)
        arguments << QStringLiteral("--scenes") << QString::number(options.scenes);
    if (options.only >= 0)
        arguments << QStringLiteral("--only") << QString::number(options.only);
    if (!options.fourcc.empty())
        arguments << QStringLiteral("--fourcc") << QString::fromStdString(options.fourcc);
    if (options.totalsOnly)
        arguments << QStringLiteral("--totals");
    return arguments;
}

void printTallies(const Totals &totals)
{
    for (size_t m = 0; m < totals.size(); ++m) {
        for (size_t k = 0; k < 3; ++k) {
            const EventMatcher::Tally &t = totals[m][k];
            std::printf("#tally %zu %zu %d %d %d %d %d\n", m, k, t.truth, t.counted, t.found,
                t.directed, t.directionRight);
        }
    }
}

// Adds a unit's tallies to `totals` and hands back the rest of what it
// printed; false when it failed.
bool readUnit(QProcess &process, Totals &totals, QString &printed, bool &skipped)
{
    process.waitForFinished(-1);
    if (process.error() == QProcess::FailedToStart || process.state() != QProcess::NotRunning)
        return false;
    const QStringList lines
        = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("#skipped"))) {
            skipped = true;
        } else if (line.startsWith(QLatin1String("#tally "))) {
            const QStringList v = line.split(QLatin1Char(' '));
            const size_t m = v.value(1).toUInt();
            const size_t k = v.value(2).toUInt();
            if (v.size() != 8 || m >= totals.size() || k >= 3)
                return false;
            EventMatcher::Tally t;
            t.truth = v[3].toInt();
            t.counted = v[4].toInt();
            t.found = v[5].toInt();
            t.directed = v[6].toInt();
            t.directionRight = v[7].toInt();
            totals[m][k] += t;
        } else if (!line.isEmpty()) {
            printed += line + QLatin1Char('\n');
        }
    }
    return true;
}

QString seedList(const std::vector<unsigned> &seeds)
{
    QStringList names;
    for (const unsigned seed : seeds)
        names << QString::number(seed);
    return names.join(QStringLiteral(", "));
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
            "usage: kestrin-accuracy [--set classic|broad] [--tuning] [--held-out] [--real]\n"
            "                        [--seed S] [--scenes N] [--method classic|robust|both]\n"
            "                        [--fourcc CODE] [--dir DIR] [--totals] [--only INDEX]\n"
            "                        [--detail] [--jobs N]\n"
            "--held-out prints totals only: no --detail, no --only.\n");
        return 2;
    }
    QTemporaryDir temporary;
    const QString dir = options.dir.isEmpty() ? temporary.path() : options.dir;
    if ((options.dir.isEmpty() && !temporary.isValid()) || !QDir().mkpath(dir)) {
        std::fprintf(
            stderr, "kestrin-accuracy: error: cannot make the folder %s\n", qPrintable(dir));
        return 1;
    }
    const Report report(options, dir);
    const Totals none(options.methods.size());
    const QString videoFolder = QStringLiteral(KESTRIN_REAL_VIDEO_DIR);
    const QString truthFolder = QStringLiteral(KESTRIN_REAL_TRUTH_DIR);

    if (options.unit) {
        Totals totals = none;
        bool skipped = false;
        const bool done = options.real
            ? report.runReal(videoFolder, truthFolder, totals, skipped)
            : report.runScenes(options.seeds, !options.totalsOnly, totals);
        if (!done)
            return 1;
        if (skipped)
            std::printf("#skipped\n");
        printTallies(totals);
        return 0;
    }

    const QString setName = options.set == SceneCatalog::Set::Classic
        ? QStringLiteral("classic scenes")
        : QStringLiteral("broad scenes");
    const int scenes = options.scenes > 0 ? options.scenes : SceneCatalog::count(options.set);
    struct Group
    {
        bool run;
        std::vector<unsigned> seeds;
        bool perScene;
        QString title;
    };
    const auto sceneTitle = [&](const char *which, const std::vector<unsigned> &seeds) {
        return QStringLiteral("%1 %2, %3")
            .arg(scenes)
            .arg(setName)
            .arg(QString::fromLatin1(which).arg(seedList(seeds)));
    };
    const std::vector<Group> groups {
        { !options.seeds.empty(), options.seeds, true, sceneTitle("seeds %1", options.seeds) },
        { options.tuning, kTuningSeeds, true, sceneTitle("tuning set, seeds %1", kTuningSeeds) },
        { options.heldOut, kHeldOutSeeds, false,
            sceneTitle("held-out set, seeds %1", kHeldOutSeeds) },
        { options.real, {}, true,
            QStringLiteral("real clip %1").arg(QString::fromLatin1(RealClip::kVideo)) },
    };
    const auto finishGroup = [&](const Group &group, const Totals &totals, bool skipped) {
        if (skipped)
            std::printf("skipped: %s is not in %s\n", RealClip::kVideo, qPrintable(videoFolder));
        else
            printTotals(QStringLiteral("Totals, %1").arg(group.title), options.methods, totals);
    };
    const auto startGroup = [&](const Group &group) {
        std::printf("\n== %s\n", qPrintable(group.title));
        if (group.perScene && !options.totalsOnly)
            printHeader(group.seeds.empty() ? "counting at" : "scene");
        std::fflush(stdout);
    };

    // Looking at events one by one, or a single seed: in this program.
    if (options.jobs <= 1 || options.detail) {
        for (const Group &group : groups) {
            if (!group.run)
                continue;
            startGroup(group);
            Totals totals = none;
            bool skipped = false;
            const bool done = group.seeds.empty()
                ? report.runReal(videoFolder, truthFolder, totals, skipped)
                : report.runScenes(group.seeds, group.perScene, totals);
            if (!done)
                return 1;
            finishGroup(group, totals, skipped);
        }
        return 0;
    }

    // Else a program per seed and one for the real clip, `jobs` at a time,
    // their output printed in order.
    std::vector<Unit> units;
    for (size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].run)
            continue;
        if (groups[g].seeds.empty())
            units.push_back({ static_cast<int>(g), 0, true });
        for (const unsigned seed : groups[g].seeds)
            units.push_back({ static_cast<int>(g), seed, false });
    }
    std::deque<std::unique_ptr<QProcess>> running;
    size_t next = 0;
    const auto startMore = [&]() {
        while (next < units.size() && static_cast<int>(running.size()) < options.jobs) {
            auto process = std::make_unique<QProcess>();
            process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process->start(
                QCoreApplication::applicationFilePath(), unitArguments(options, units[next], dir));
            running.push_back(std::move(process));
            ++next;
        }
    };
    startMore();
    Totals totals = none;
    bool skipped = false;
    for (size_t u = 0; u < units.size(); ++u) {
        const Group &group = groups[static_cast<size_t>(units[u].group)];
        if (u == 0 || units[u - 1].group != units[u].group) {
            startGroup(group);
            totals = none;
            skipped = false;
        }
        std::unique_ptr<QProcess> process = std::move(running.front());
        running.pop_front();
        QString printed;
        if (!readUnit(*process, totals, printed, skipped)) {
            std::fprintf(stderr, "kestrin-accuracy: error: the run of %s failed\n",
                units[u].real ? "the real clip"
                              : qPrintable(QStringLiteral("seed %1").arg(units[u].seed)));
            for (auto &other : running)
                other->kill();
            for (auto &other : running)
                other->waitForFinished(-1);
            return 1;
        }
        startMore();
        if (group.perScene)
            std::printf("%s", qPrintable(printed));
        if (u + 1 == units.size() || units[u + 1].group != units[u].group)
            finishGroup(group, totals, skipped);
        std::fflush(stdout);
    }
    return 0;
}
