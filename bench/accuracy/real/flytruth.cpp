// Tracks the two flies of the real clip apart from Kestrin's engine, and
// lists the line crossings and box entries and exits their centres make,
// with picture crops of every event to check by eye.
//
//   kestrin-flytruth VIDEO BOXFOLDER OUTFOLDER
//
// The flies are bright on a dark plate: a fixed threshold and an opening
// find their bodies (dust and hairs on the plate are far smaller); the two
// keep their identity by the nearest pairing to where they were, and where
// they touch their one blob is split in two by 2-means from there.
// Writes OUTFOLDER/tracks.csv (Frame;Fly;X;Y;Blobs, frame indices from 0),
// OUTFOLDER/events.csv (the truth table's form, frames numbered as the
// count file numbers them: frame index - 1, from index 91 on) and
// OUTFOLDER/crops/NN_kind_frame.png (before, at and after each event).

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

constexpr int kThreshold = 90; // grey level; the plate stays below ~60
constexpr int kMinArea = 400; // px; specks on the plate are under 100
constexpr double kMargin = 10.0; // px a centre must be past a line or border
constexpr double kReach = 45.0; // px, half a fly's length with its wings: it touches the line
constexpr int kTouchFrames = 25; // a window reaches a second at most each way
constexpr int kFirstProcessed = 91; // frame index
constexpr int kCropHalf = 110;
constexpr int kCropStep = 8; // frames between the crops of an event

using Fly = cv::Point2d;
using Flies = std::array<Fly, 2>;

struct Event
{
    int index = 0;
    Fly at;
    std::string kind;
    std::string direction;
    int fly = 0;
    int first = 0; // frame indices it touched the line or border around the event
    int last = 0;
};

std::vector<cv::Point> readBox(const std::string &fileName)
{
    std::vector<cv::Point> points;
    std::ifstream in(fileName);
    std::string line;
    while (std::getline(in, line)) {
        cv::Point p;
        if (std::sscanf(line.c_str(), "%d,%d", &p.x, &p.y) == 2)
            points.push_back(p);
    }
    if (points.size() > 3 && points.front() == points.back())
        points.pop_back();
    return points;
}

double sideOf(const Fly &p, const cv::Point2d &a, const cv::Point2d &b)
{
    const cv::Point2d ab = b - a;
    return (ab.x * (p.y - a.y) - ab.y * (p.x - a.x)) / std::hypot(ab.x, ab.y);
}

// 2-means of a blob's pixels, started from the flies' last places.
Flies split(const std::vector<cv::Point> &pixels, Flies centres)
{
    for (int round = 0; round < 20; ++round) {
        std::array<cv::Point2d, 2> sum {};
        std::array<int, 2> count {};
        for (const cv::Point &p : pixels) {
            const cv::Point2d q(p);
            const int k = cv::norm(q - centres[0]) <= cv::norm(q - centres[1]) ? 0 : 1;
            sum[k] += q;
            ++count[k];
        }
        for (int k = 0; k < 2; ++k) {
            if (count[k] > 0)
                centres[k] = sum[k] / count[k];
        }
    }
    return centres;
}

// The flies in a frame, `previous` where they were, `blobs` how many
// bodies were seen.
Flies track(const cv::Mat &grey, const Flies &previous, bool first, int &blobs)
{
    cv::Mat bright = grey > kThreshold;
    cv::morphologyEx(bright, bright, cv::MORPH_OPEN,
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(5, 5)));
    cv::Mat labels;
    cv::Mat stats;
    cv::Mat centroids;
    const int n = cv::connectedComponentsWithStats(bright, labels, stats, centroids);
    std::vector<int> bodies;
    for (int k = 1; k < n; ++k) {
        if (stats.at<int>(k, cv::CC_STAT_AREA) >= kMinArea)
            bodies.push_back(k);
    }
    std::sort(bodies.begin(), bodies.end(), [&](int a, int b) {
        return stats.at<int>(a, cv::CC_STAT_AREA) > stats.at<int>(b, cv::CC_STAT_AREA);
    });
    blobs = static_cast<int>(bodies.size());
    const auto centre
        = [&](int k) { return Fly(centroids.at<double>(k, 0), centroids.at<double>(k, 1)); };
    if (bodies.size() >= 2) {
        const Fly a = centre(bodies[0]);
        const Fly b = centre(bodies[1]);
        if (first
            || cv::norm(a - previous[0]) + cv::norm(b - previous[1])
                <= cv::norm(a - previous[1]) + cv::norm(b - previous[0]))
            return { a, b };
        return { b, a };
    }
    if (bodies.size() == 1) {
        std::vector<cv::Point> pixels;
        cv::findNonZero(labels == bodies[0], pixels);
        return split(pixels, previous);
    }
    return previous;
}

void drawBoxes(
    cv::Mat &picture, const std::vector<cv::Point> &line, const std::vector<cv::Point> &box)
{
    cv::line(picture, line[0], line[1], cv::Scalar(0, 200, 255), 1);
    cv::polylines(picture, box, true, cv::Scalar(255, 160, 0), 1);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrin-flytruth VIDEO BOXFOLDER OUTFOLDER\n");
        return 2;
    }
    const std::string boxes = argv[2];
    const std::string out = argv[3];
    const std::vector<cv::Point> line = readBox(boxes + "/flies_line_area.krn");
    const std::vector<cv::Point> box = readBox(boxes + "/flies_box_area.krn");
    if (line.size() != 2 || box.size() < 3) {
        std::fprintf(stderr, "kestrin-flytruth: error: no line or box in %s\n", boxes.c_str());
        return 1;
    }
    std::error_code made;
    std::filesystem::create_directories(out + "/crops", made);
    if (made) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot make %s/crops: %s\n", out.c_str(),
            made.message().c_str());
        return 1;
    }
    cv::VideoCapture capture(argv[1]);
    if (!capture.isOpened()) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<Flies> path;
    std::vector<int> seen;
    cv::Mat frame;
    cv::Mat grey;
    std::FILE *tracks = std::fopen((out + "/tracks.csv").c_str(), "w");
    if (!tracks) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot write %s/tracks.csv\n", out.c_str());
        return 1;
    }
    std::fprintf(tracks, "Frame;Fly;X;Y;Blobs\n");
    while (capture.read(frame)) {
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        int blobs = 0;
        const Flies flies = track(grey, path.empty() ? Flies {} : path.back(), path.empty(), blobs);
        for (int k = 0; k < 2; ++k)
            std::fprintf(
                tracks, "%zu;%d;%.1f;%.1f;%d\n", path.size(), k, flies[k].x, flies[k].y, blobs);
        path.push_back(flies);
        seen.push_back(blobs);
    }
    if (std::fclose(tracks) != 0) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot write %s/tracks.csv\n", out.c_str());
        return 1;
    }

    // Events as the accuracy report defines them, with a margin for a real
    // fly's centre, which wobbles with its legs and wings.
    std::vector<Event> events;
    const cv::Point2d a(line[0]);
    const cv::Point2d b(line[1]);
    const std::vector<cv::Point2f> polygon(box.begin(), box.end());
    for (int k = 0; k < 2; ++k) {
        int side = 0;
        int state = 0;
        for (int i = 0; i < static_cast<int>(path.size()); ++i) {
            const Fly p = path[static_cast<size_t>(i)][static_cast<size_t>(k)];
            const double s = sideOf(p, a, b);
            const double t = std::clamp((p - a).dot(b - a) / (b - a).dot(b - a), -1.0, 2.0);
            const int nowSide = s > kMargin ? 1 : s < -kMargin ? -1 : 0;
            if (nowSide != 0) {
                if (side != 0 && nowSide != side && i >= kFirstProcessed && t >= 0 && t <= 1)
                    events.push_back(
                        { i, p, "crossing", side < 0 ? "left-to-right" : "right-to-left", k });
                side = nowSide;
            }
            const double depth = cv::pointPolygonTest(polygon, cv::Point2f(p), true);
            const int nowState = depth > kMargin ? 1 : depth < -kMargin ? -1 : 0;
            if (nowState != 0) {
                if (state != 0 && nowState != state && i >= kFirstProcessed)
                    events.push_back({ i, p, nowState > 0 ? "entry" : "exit", "", k });
                state = nowState;
            }
        }
    }
    // The frames around each event where the fly touched the line or border,
    // a second at most each way: a fly may rest with its head over it.
    for (Event &e : events) {
        const auto distance = [&](int i) {
            const Fly p = path[static_cast<size_t>(i)][static_cast<size_t>(e.fly)];
            return e.kind == "crossing"
                ? std::abs(sideOf(p, a, b))
                : std::abs(cv::pointPolygonTest(polygon, cv::Point2f(p), true));
        };
        e.first = e.index;
        while (e.first > 0 && e.index - e.first < kTouchFrames && distance(e.first - 1) <= kReach)
            --e.first;
        e.last = e.index;
        while (e.last + 1 < static_cast<int>(path.size()) && e.last - e.index < kTouchFrames
            && distance(e.last + 1) <= kReach)
            ++e.last;
    }
    std::sort(events.begin(), events.end(),
        [](const Event &x, const Event &y) { return x.index < y.index; });

    std::FILE *table = std::fopen((out + "/events.csv").c_str(), "w");
    if (!table) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot write %s/events.csv\n", out.c_str());
        return 1;
    }
    std::fprintf(table, "Frame;X;Y;Kind;Direction;First;Last\n");
    for (const Event &e : events)
        std::fprintf(table, "%d;%d;%d;%s;%s;%d;%d\n", e.index - 1, cvRound(e.at.x), cvRound(e.at.y),
            e.kind.c_str(), e.direction.c_str(), e.first - 1, e.last - 1);
    if (std::fclose(table) != 0) {
        std::fprintf(stderr, "kestrin-flytruth: error: cannot write %s/events.csv\n", out.c_str());
        return 1;
    }

    // Crops: before, at and after, the fly marked, line and box drawn.
    for (size_t n = 0; n < events.size(); ++n) {
        const Event &e = events[n];
        std::vector<cv::Mat> panels;
        for (const int at :
            { e.index - 2 * kCropStep, e.index - kCropStep, e.index, e.index + kCropStep }) {
            const int index = std::clamp(at, 0, static_cast<int>(path.size()) - 1);
            capture.set(cv::CAP_PROP_POS_FRAMES, index);
            if (!capture.read(frame)) {
                std::fprintf(stderr, "kestrin-flytruth: error: cannot read frame %d\n", index);
                return 1;
            }
            drawBoxes(frame, line, box);
            for (int k = 0; k < 2; ++k)
                cv::circle(frame,
                    cv::Point(path[static_cast<size_t>(index)][static_cast<size_t>(k)]), 3,
                    k == e.fly ? cv::Scalar(0, 0, 255) : cv::Scalar(0, 255, 0), cv::FILLED);
            cv::Rect crop(cvRound(e.at.x) - kCropHalf, cvRound(e.at.y) - kCropHalf, 2 * kCropHalf,
                2 * kCropHalf);
            crop &= cv::Rect(0, 0, frame.cols, frame.rows);
            cv::Mat panel = cv::Mat::zeros(2 * kCropHalf, 2 * kCropHalf, frame.type());
            frame(crop).copyTo(panel(cv::Rect(0, 0, crop.width, crop.height)));
            cv::putText(panel, std::to_string(index), cv::Point(4, 16), cv::FONT_HERSHEY_SIMPLEX,
                0.5, cv::Scalar(255, 255, 255), 1);
            panels.push_back(panel);
        }
        cv::Mat strip;
        cv::hconcat(panels, strip);
        char name[128];
        std::snprintf(name, sizeof name, "%s/crops/%02zu_%s_%d.png", out.c_str(), n, e.kind.c_str(),
            e.index - 1);
        if (!cv::imwrite(name, strip)) {
            std::fprintf(stderr, "kestrin-flytruth: error: cannot write %s\n", name);
            return 1;
        }
        std::printf("%02zu %s %s fly %d frame %d at %.0f,%.0f\n", n, e.kind.c_str(),
            e.direction.c_str(), e.fly, e.index - 1, e.at.x, e.at.y);
    }
    int lost = 0;
    for (int s : seen)
        lost += s == 0;
    std::printf("%zu frames, %d with no fly found, %zu events\n", path.size(), lost, events.size());
    return 0;
}
