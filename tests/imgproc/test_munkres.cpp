#include <algorithm>
#include <iomanip>
#include <iostream>
#include <limits>
#include <numeric>
#include <sstream>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include <QTest>

#include "cvprint.h"
#include "imgproc/munkres.h"

namespace {

cv::Mat matrixOf(const std::vector<std::vector<int>> &rows)
{
    cv::Mat m(static_cast<int>(rows.size()), static_cast<int>(rows.front().size()), CV_32SC1);
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < m.cols; ++c)
            m.at<int>(r, c) = rows[static_cast<size_t>(r)][static_cast<size_t>(c)];
    }
    return m;
}

bool sameMatrix(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

QString describe(const cv::Mat &m)
{
    std::ostringstream out;
    out << cv::format(m, cv::Formatter::FMT_NUMPY);
    return QString::fromStdString(out.str());
}

// Checks the result convention: only 0 and -1, at most one 0 per row and per
// column, min(R, C) zeros. Returns the total cost of the chosen cells, or -1
// when the convention is broken.
long long assignedCost(const cv::Mat &costs, const cv::Mat &result)
{
    if (result.size() != costs.size() || result.type() != CV_32SC1)
        return -1;
    std::vector<int> perRow(static_cast<size_t>(costs.rows), 0);
    std::vector<int> perCol(static_cast<size_t>(costs.cols), 0);
    long long total = 0;
    int zeros = 0;
    for (int r = 0; r < costs.rows; ++r) {
        for (int c = 0; c < costs.cols; ++c) {
            const int v = result.at<int>(r, c);
            if (v != 0 && v != -1)
                return -1;
            if (v == 0) {
                ++perRow[static_cast<size_t>(r)];
                ++perCol[static_cast<size_t>(c)];
                total += costs.at<int>(r, c);
                ++zeros;
            }
        }
    }
    const auto over = [](int n) { return n > 1; };
    if (std::any_of(perRow.begin(), perRow.end(), over)
        || std::any_of(perCol.begin(), perCol.end(), over)
        || zeros != std::min(costs.rows, costs.cols))
        return -1;
    return total;
}

// Smallest total over every way of giving min(R, C) rows distinct columns.
long long bruteForceMinimum(const cv::Mat &costs)
{
    const bool wide = costs.rows <= costs.cols;
    const int few = wide ? costs.rows : costs.cols;
    const int many = wide ? costs.cols : costs.rows;
    std::vector<int> perm(static_cast<size_t>(many));
    std::iota(perm.begin(), perm.end(), 0);
    long long best = std::numeric_limits<long long>::max();
    do {
        long long total = 0;
        for (int i = 0; i < few; ++i) {
            const int j = perm[static_cast<size_t>(i)];
            total += wide ? costs.at<int>(i, j) : costs.at<int>(j, i);
        }
        best = std::min(best, total);
    } while (std::next_permutation(perm.begin(), perm.end()));
    return best;
}

// Captures what is written to std::cout while it lives.
class CoutCapture
{
public:
    CoutCapture()
        : old(std::cout.rdbuf(buffer.rdbuf()))
    {
    }
    ~CoutCapture() { std::cout.rdbuf(old); }
    CoutCapture(const CoutCapture &) = delete;
    CoutCapture &operator=(const CoutCapture &) = delete;
    std::string text() const { return buffer.str(); }

private:
    std::ostringstream buffer;
    std::streambuf *old;
};

// The method written step by step, each step searching the whole matrix. The
// solver under test must give the same result, tie for tie, and print the
// same trace.
class LiteralMunkres
{
public:
    explicit LiteralMunkres(bool verbose)
        : verbose(verbose)
    {
    }

    void solve(cv::Mat &m)
    {
        const int rows = m.rows;
        const int cols = m.cols;
        if (verbose) {
            std::cout << "Munkres input matrix:\n";
            print(m, rows, cols, 4);
            std::cout << "\n";
        }
        n = std::max(rows, cols);
        double largest = 0;
        cv::minMaxLoc(m, nullptr, &largest);
        matrix = cv::Mat(n, n, CV_32SC1, cv::Scalar(std::max(0, static_cast<int>(largest))));
        m.copyTo(matrix(cv::Rect(0, 0, cols, rows)));
        marks = cv::Mat::zeros(n, n, CV_32SC1);
        rowCovered.assign(static_cast<size_t>(n), false);
        colCovered.assign(static_cast<size_t>(n), false);

        int v = matrix.at<int>(0, 0);
        forEach([&](int r, int c) {
            const int e = matrix.at<int>(r, c);
            if (e != 0)
                v = v == 0 ? e : std::max(v, e);
        });
        if (v != 0)
            ++v;
        forEach([&](int r, int c) {
            if (matrix.at<int>(r, c) == 0)
                matrix.at<int>(r, c) = v;
        });
        for (int r = 0; r < n; ++r) {
            double low = 0;
            cv::minMaxLoc(matrix.row(r), &low);
            if (low > 0)
                matrix.row(r) -= static_cast<int>(low);
        }
        for (int c = 0; c < n; ++c) {
            double low = 0;
            cv::minMaxLoc(matrix.col(c), &low);
            if (low > 0)
                matrix.col(c) -= static_cast<int>(low);
        }

        int step = 1;
        while (step != 0) {
            switch (step) {
            case 1:
                step = step1();
                break;
            case 2:
                step = step2();
                break;
            case 3:
                step = step3();
                break;
            case 4:
                step = step4();
                break;
            default:
                step = step5();
                break;
            }
        }
        forEach([&](int r, int c) { matrix.at<int>(r, c) = marks.at<int>(r, c) == 1 ? 0 : -1; });
        if (verbose) {
            std::cout << "Munkres output matrix:\n";
            print(matrix, rows, cols, 2);
            std::cout << "\n";
        }
        matrix(cv::Rect(0, 0, cols, rows)).copyTo(m);
    }

private:
    enum { Normal = 0, Star = 1, Prime = 2 };

    template <typename F> void forEach(F f)
    {
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c)
                f(r, c);
        }
    }

    static void print(const cv::Mat &m, int rows, int cols, int width)
    {
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c)
                std::cout << std::setw(width) << m.at<int>(r, c) << ",";
            std::cout << "\n";
        }
    }

    bool markInRow(int r, int mark) const
    {
        for (int c = 0; c < n; ++c) {
            if (marks.at<int>(r, c) == mark)
                return true;
        }
        return false;
    }

    bool markInCol(int c, int mark) const
    {
        for (int r = 0; r < n; ++r) {
            if (marks.at<int>(r, c) == mark)
                return true;
        }
        return false;
    }

    int step1()
    {
        forEach([&](int r, int c) {
            if (matrix.at<int>(r, c) == 0 && !markInCol(c, Star) && !markInRow(r, Star))
                marks.at<int>(r, c) = Star;
        });
        return 2;
    }

    int step2()
    {
        int count = 0;
        forEach([&](int r, int c) {
            if (marks.at<int>(r, c) == Star) {
                colCovered[static_cast<size_t>(c)] = true;
                ++count;
            }
        });
        if (count >= n) {
            if (verbose)
                std::cout << "Final cover count: " << count << std::endl;
            return 0;
        }
        if (verbose) {
            std::cout << "Munkres matrix has " << count << " of " << n
                      << " Columns covered:" << std::endl;
            print(matrix, n, n, 4);
            std::cout << std::endl;
        }
        return 3;
    }

    int step3()
    {
        for (;;) {
            int row = -1;
            int col = -1;
            for (int r = 0; r < n && row < 0; ++r) {
                for (int c = 0; c < n && row < 0; ++c) {
                    if (!rowCovered[static_cast<size_t>(r)] && !colCovered[static_cast<size_t>(c)]
                        && matrix.at<int>(r, c) == 0) {
                        row = r;
                        col = c;
                    }
                }
            }
            if (row < 0)
                return 5;
            marks.at<int>(row, col) = Prime;
            saved = { row, col };
            int star = -1;
            for (int c = 0; c < n; ++c) {
                if (marks.at<int>(row, c) == Star)
                    star = c;
            }
            if (star < 0)
                return 4;
            rowCovered[static_cast<size_t>(row)] = true;
            colCovered[static_cast<size_t>(star)] = false;
        }
    }

    int step4()
    {
        std::vector<cv::Point> path { cv::Point(saved.second, saved.first) };
        const auto inPath = [&](int r, int c) {
            return std::find(path.begin(), path.end(), cv::Point(c, r)) != path.end();
        };
        for (;;) {
            const int col = path.back().x;
            int row = -1;
            for (int r = 0; r < n && row < 0; ++r) {
                if (marks.at<int>(r, col) == Star && !inPath(r, col))
                    row = r;
            }
            if (row < 0)
                break;
            path.emplace_back(col, row);
            int next = -1;
            for (int c = 0; c < n && next < 0; ++c) {
                if (marks.at<int>(row, c) == Prime && !inPath(row, c))
                    next = c;
            }
            if (next < 0)
                break;
            path.emplace_back(next, row);
        }
        for (const cv::Point &p : path) {
            int &mark = marks.at<int>(p.y, p.x);
            mark = mark == Star ? Normal : mark == Prime ? Star : mark;
        }
        forEach([&](int r, int c) {
            if (marks.at<int>(r, c) == Prime)
                marks.at<int>(r, c) = Normal;
        });
        std::fill(rowCovered.begin(), rowCovered.end(), false);
        std::fill(colCovered.begin(), colCovered.end(), false);
        return 2;
    }

    int step5()
    {
        int h = 0;
        forEach([&](int r, int c) {
            if (rowCovered[static_cast<size_t>(r)] || colCovered[static_cast<size_t>(c)])
                return;
            const int v = matrix.at<int>(r, c);
            if ((h > v && v != 0) || h == 0)
                h = v;
        });
        forEach([&](int r, int c) {
            if (rowCovered[static_cast<size_t>(r)])
                matrix.at<int>(r, c) += h;
            if (!colCovered[static_cast<size_t>(c)])
                matrix.at<int>(r, c) -= h;
        });
        return 3;
    }

    bool verbose;
    int n = 0;
    cv::Mat matrix;
    cv::Mat marks;
    std::vector<bool> rowCovered;
    std::vector<bool> colCovered;
    std::pair<int, int> saved;
};
} // namespace

class TestMunkres : public QObject
{
    Q_OBJECT

private slots:
    void examples_data();
    void examples();
    void ties_data();
    void ties();
    void columnVectorPicksCheapestRow();
    void everySmallMatrixIsOptimal();
    void verboseTrace();
    void quietByDefault();
    void refusesUnusableMatrices();
    void sameAsLiteralSteps_data();
    void sameAsLiteralSteps();
    void sameTraceAsLiteralSteps();
};

void TestMunkres::examples_data()
{
    QTest::addColumn<cv::Mat>("costs");
    QTest::addColumn<cv::Mat>("expected");

    QTest::newRow("1x1") << matrixOf({ { 42 } }) << matrixOf({ { 0 } });
    QTest::newRow("diagonal") << matrixOf({ { 1, 5 }, { 5, 1 } })
                              << matrixOf({ { 0, -1 }, { -1, 0 } });
    // Zero costs become 51 first, so the 50s win.
    QTest::newRow("zero not preferred")
        << matrixOf({ { 0, 50 }, { 50, 0 } }) << matrixOf({ { -1, 0 }, { 0, -1 } });
    QTest::newRow("1x3") << matrixOf({ { 7, 3, 9 } }) << matrixOf({ { -1, 0, -1 } });
    // Padded with a row of 9s, which is cut off again.
    QTest::newRow("2x3") << matrixOf({ { 4, 9, 2 }, { 3, 1, 9 } })
                         << matrixOf({ { -1, -1, 0 }, { -1, 0, -1 } });
    QTest::newRow("3x2") << matrixOf({ { 4, 3 }, { 9, 1 }, { 2, 9 } })
                         << matrixOf({ { -1, -1 }, { -1, 0 }, { 0, -1 } });
    QTest::newRow("all zero") << matrixOf({ { 0, 0 }, { 0, 0 } })
                              << matrixOf({ { 0, -1 }, { -1, 0 } });
}

void TestMunkres::examples()
{
    QFETCH(cv::Mat, costs);
    QFETCH(cv::Mat, expected);
    cv::Mat m = costs.clone();
    Munkres().solve(m);
    QVERIFY2(sameMatrix(m, expected), qPrintable(describe(m)));
}

// Equally cheap assignments: the scanning order (rows first, lowest index
// first) decides. The expected results are traced by hand through the steps.
void TestMunkres::ties_data()
{
    QTest::addColumn<cv::Mat>("costs");
    QTest::addColumn<cv::Mat>("expected");

    // Every assignment costs the same: the initial stars take the diagonal.
    QTest::newRow("uniform") << matrixOf({ { 3, 3, 3 }, { 3, 3, 3 }, { 3, 3, 3 } })
                             << matrixOf({ { 0, -1, -1 }, { -1, 0, -1 }, { -1, -1, 0 } });
    QTest::newRow("uniform wide") << matrixOf({ { 5, 5, 5 }, { 5, 5, 5 } })
                                  << matrixOf({ { 0, -1, -1 }, { -1, 0, -1 } });
    // Both diagonals total 4; the first stars are kept.
    QTest::newRow("two diagonals")
        << matrixOf({ { 1, 2 }, { 2, 3 } }) << matrixOf({ { 0, -1 }, { -1, 0 } });
    // Only (2, 2) is dear. The initial stars (0, 0), (1, 1) leave row 2 out;
    // priming (0, 2), (1, 0), (2, 0) and augmenting from (2, 0) gives
    // (0, 2), (1, 1), (2, 0) among the eight optimal assignments.
    QTest::newRow("augmenting path") << matrixOf({ { 1, 1, 1 }, { 1, 1, 1 }, { 1, 1, 5 } })
                                     << matrixOf({ { -1, -1, 0 }, { -1, 0, -1 }, { 0, -1, -1 } });
    // Rows 0 and 1 are equal, so both ways of sharing columns 0 and 1 cost
    // 14. The star pass gives column 0 to row 0, but after one adjustment the
    // augmenting path from (1, 0) runs through (0, 0), (0, 1), (2, 1), (2, 2)
    // and swaps rows 0 and 1.
    QTest::newRow("shared cheapest column")
        << matrixOf({ { 1, 4, 7 }, { 1, 4, 7 }, { 9, 9, 9 } })
        << matrixOf({ { -1, 0, -1 }, { 0, -1, -1 }, { -1, -1, 0 } });
}

void TestMunkres::ties()
{
    QFETCH(cv::Mat, costs);
    QFETCH(cv::Mat, expected);
    cv::Mat m = costs.clone();
    Munkres().solve(m);
    QVERIFY2(sameMatrix(m, expected), qPrintable(describe(m)));
}

void TestMunkres::columnVectorPicksCheapestRow()
{
    cv::RNG rng(7);
    for (int i = 0; i < 200; ++i) {
        const int rows = rng.uniform(1, 8);
        cv::Mat costs(rows, 1, CV_32SC1);
        rng.fill(costs, cv::RNG::UNIFORM, 1, 1000);
        cv::Mat m = costs.clone();
        Munkres().solve(m);
        QCOMPARE(cv::countNonZero(m == 0), 1);
        cv::Point at;
        cv::minMaxLoc(m, nullptr, nullptr, nullptr, &at);
        double cheapest = 0;
        cv::minMaxLoc(costs, &cheapest);
        QCOMPARE(costs.at<int>(at), static_cast<int>(cheapest));
    }
}

// Every shape up to 5 x 5, many matrices each, against brute force. Narrow
// cost ranges give plenty of ties, wide ones plenty of distinct sums.
void TestMunkres::everySmallMatrixIsOptimal()
{
    cv::RNG rng(20240607);
    int checked = 0;
    for (int rows = 1; rows <= 5; ++rows) {
        for (int cols = 1; cols <= 5; ++cols) {
            for (const int top : { 3, 10, 1000 }) {
                for (int i = 0; i < 60; ++i) {
                    cv::Mat costs(rows, cols, CV_32SC1);
                    rng.fill(costs, cv::RNG::UNIFORM, 1, top + 1);
                    cv::Mat m = costs.clone();
                    Munkres().solve(m);
                    const long long got = assignedCost(costs, m);
                    const long long best = bruteForceMinimum(costs);
                    if (got != best) {
                        QFAIL(qPrintable(QStringLiteral("costs %1 gave %2 (total %3, best %4)")
                                             .arg(describe(costs), describe(m))
                                             .arg(got)
                                             .arg(best)));
                    }
                    ++checked;
                }
            }
        }
    }
    QCOMPARE(checked, 25 * 3 * 60);
}

void TestMunkres::verboseTrace()
{
    Munkres munkres;
    munkres.setVerbose(true);
    cv::Mat m = matrixOf({ { 1, 5 }, { 5, 1 } });
    std::string text;
    {
        CoutCapture capture;
        munkres.solve(m);
        text = capture.text();
    }
    QCOMPARE(QString::fromStdString(text),
        QStringLiteral("Munkres input matrix:\n"
                       "   1,   5,\n"
                       "   5,   1,\n"
                       "\n"
                       "Final cover count: 2\n"
                       "Munkres output matrix:\n"
                       " 0,-1,\n"
                       "-1, 0,\n"
                       "\n"));

    // Here the first stars cover only two of three columns.
    m = matrixOf({ { 1, 1, 1 }, { 1, 1, 1 }, { 1, 1, 5 } });
    {
        CoutCapture capture;
        munkres.solve(m);
        text = capture.text();
    }
    QVERIFY2(QString::fromStdString(text).contains(
                 QStringLiteral("Munkres matrix has 2 of 3 Columns covered:\n"
                                "   0,   0,   0,\n"
                                "   0,   0,   0,\n"
                                "   0,   0,   4,\n")),
        text.c_str());
    QVERIFY(QString::fromStdString(text).contains(QStringLiteral("Final cover count: 3\n")));
}

void TestMunkres::quietByDefault()
{
    cv::Mat m = matrixOf({ { 4, 9, 2 }, { 3, 1, 9 } });
    CoutCapture capture;
    Munkres().solve(m);
    QVERIFY(capture.text().empty());
}

void TestMunkres::refusesUnusableMatrices()
{
    Munkres munkres;
    cv::Mat empty;
    munkres.solve(empty);
    QVERIFY(empty.empty());

    cv::Mat floats(2, 2, CV_32FC1, cv::Scalar(1.5));
    const cv::Mat before = floats.clone();
    munkres.solve(floats);
    QCOMPARE(cv::countNonZero(floats != before), 0);
}

void TestMunkres::sameAsLiteralSteps_data()
{
    QTest::addColumn<int>("largest");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("count");
    QTest::newRow("many ties") << 12 << 1 << 3 << 150;
    QTest::newRow("some ties") << 30 << 1 << 10 << 150;
    QTest::newRow("distances") << 60 << 1 << 2200 << 60;
    QTest::newRow("with zero costs") << 25 << 0 << 5 << 120;
    QTest::newRow("with negative costs") << 12 << -5 << 5 << 120;
}

// Random shapes, square and not, for identical results.
void TestMunkres::sameAsLiteralSteps()
{
    QFETCH(int, largest);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, count);
    cv::RNG rng(static_cast<uint64>(largest * 1000 + high));
    for (int i = 0; i < count; ++i) {
        const int rows = rng.uniform(1, largest + 1);
        const int cols = rng.uniform(1, largest + 1);
        cv::Mat costs(rows, cols, CV_32SC1);
        rng.fill(costs, cv::RNG::UNIFORM, low, high + 1);
        cv::Mat expected = costs.clone();
        LiteralMunkres(false).solve(expected);
        cv::Mat m = costs.clone();
        Munkres().solve(m);
        if (!sameMatrix(m, expected))
            QFAIL(qPrintable(QStringLiteral("costs %1\ngave %2\nexpected %3")
                                 .arg(describe(costs), describe(m), describe(expected))));
    }
}

void TestMunkres::sameTraceAsLiteralSteps()
{
    cv::RNG rng(31337);
    Munkres munkres;
    munkres.setVerbose(true);
    for (int i = 0; i < 60; ++i) {
        cv::Mat costs(rng.uniform(1, 7), rng.uniform(1, 7), CV_32SC1);
        rng.fill(costs, cv::RNG::UNIFORM, 0, 6);
        cv::Mat a = costs.clone();
        cv::Mat b = costs.clone();
        std::string expected;
        std::string got;
        {
            CoutCapture capture;
            LiteralMunkres(true).solve(a);
            expected = capture.text();
        }
        {
            CoutCapture capture;
            munkres.solve(b);
            got = capture.text();
        }
        QCOMPARE(QString::fromStdString(got), QString::fromStdString(expected));
    }
}

QTEST_APPLESS_MAIN(TestMunkres)
#include "test_munkres.moc"
