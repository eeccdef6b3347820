#include "munkres.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <utility>

#include "logging.h"

namespace {

void printMatrix(const cv::Mat &m, int rows, int cols, int width)
{
    for (int r = 0; r < rows; ++r) {
        const int *row = m.ptr<int>(r);
        for (int c = 0; c < cols; ++c)
            std::cout << std::setw(width) << row[c] << ",";
        std::cout << "\n";
    }
}

} // namespace

void Munkres::solve(cv::Mat &m)
{
    if (m.empty() || m.type() != CV_32SC1) {
        qCWarning(lcImgproc, "Munkres needs a non-empty CV_32SC1 matrix");
        return;
    }
    const int rows = m.rows;
    const int cols = m.cols;

    if (verbose) {
        std::cout << "Munkres input matrix:\n";
        printMatrix(m, rows, cols, 4);
        std::cout << "\n";
    }

    const int n = std::max(rows, cols);
    double largest = 0.0;
    cv::minMaxLoc(m, nullptr, &largest);
    matrix.create(n, n, CV_32SC1);
    matrix.setTo(std::max(0, static_cast<int>(largest)));
    m.copyTo(matrix(cv::Rect(0, 0, cols, rows)));

    mask_matrix.create(n, n, CV_32SC1);
    mask_matrix.setTo(NORMAL);
    row_covered.assign(static_cast<size_t>(n), 0);
    col_covered.assign(static_cast<size_t>(n), 0);

    replaceZeros();
    reduce();

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

    for (int r = 0; r < n; ++r) {
        int *row = matrix.ptr<int>(r);
        const int *marks = mask_matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c)
            row[c] = marks[c] == STAR ? 0 : -1;
    }

    if (verbose) {
        std::cout << "Munkres output matrix:\n";
        printMatrix(matrix, rows, cols, 2);
        std::cout << "\n";
    }

    matrix(cv::Rect(0, 0, cols, rows)).copyTo(m);
    row_covered.clear();
    col_covered.clear();
}

// A zero cost would otherwise be the most attractive one; it becomes one more
// than the largest cost, so that it is not preferred.
void Munkres::replaceZeros()
{
    const int n = matrix.rows;
    int v = matrix.at<int>(0, 0);
    for (int r = 0; r < n; ++r) {
        const int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            const int e = row[c];
            if (e != 0)
                v = v == 0 ? e : std::max(v, e);
        }
    }
    if (v != 0)
        ++v;
    for (int r = 0; r < n; ++r) {
        int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            if (row[c] == 0)
                row[c] = v;
        }
    }
}

void Munkres::reduce()
{
    const int n = matrix.rows;
    for (int r = 0; r < n; ++r) {
        int *row = matrix.ptr<int>(r);
        const int smallest = *std::min_element(row, row + n);
        if (smallest > 0) {
            for (int c = 0; c < n; ++c)
                row[c] -= smallest;
        }
    }
    for (int c = 0; c < n; ++c) {
        int smallest = matrix.at<int>(0, c);
        for (int r = 1; r < n; ++r)
            smallest = std::min(smallest, matrix.at<int>(r, c));
        if (smallest > 0) {
            for (int r = 0; r < n; ++r)
                matrix.at<int>(r, c) -= smallest;
        }
    }
}

int Munkres::starInRow(int row) const
{
    const int *marks = mask_matrix.ptr<int>(row);
    for (int c = 0; c < mask_matrix.cols; ++c) {
        if (marks[c] == STAR)
            return c;
    }
    return -1;
}

int Munkres::starInColumn(int col) const
{
    for (int r = 0; r < mask_matrix.rows; ++r) {
        if (mask_matrix.at<int>(r, col) == STAR)
            return r;
    }
    return -1;
}

int Munkres::primeInRow(int row) const
{
    const int *marks = mask_matrix.ptr<int>(row);
    for (int c = 0; c < mask_matrix.cols; ++c) {
        if (marks[c] == PRIME)
            return c;
    }
    return -1;
}

int Munkres::step1()
{
    const int n = matrix.rows;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            if (matrix.at<int>(r, c) == 0 && starInColumn(c) < 0 && starInRow(r) < 0)
                mask_matrix.at<int>(r, c) = STAR;
        }
    }
    return 2;
}

int Munkres::step2()
{
    const int n = matrix.rows;
    int covercount = 0;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            if (mask_matrix.at<int>(r, c) == STAR) {
                col_covered[static_cast<size_t>(c)] = 1;
                ++covercount;
            }
        }
    }
    if (covercount >= n) {
        if (verbose)
            std::cout << "Final cover count: " << covercount << std::endl;
        return 0;
    }
    if (verbose) {
        std::cout << "Munkres matrix has " << covercount << " of " << n
                  << " Columns covered:" << std::endl;
        printMatrix(matrix, n, n, 4);
        std::cout << std::endl;
    }
    return 3;
}

int Munkres::step3()
{
    const int n = matrix.rows;
    for (;;) {
        int found_row = -1;
        int found_col = -1;
        for (int r = 0; r < n && found_row < 0; ++r) {
            if (row_covered[static_cast<size_t>(r)])
                continue;
            const int *row = matrix.ptr<int>(r);
            for (int c = 0; c < n; ++c) {
                if (!col_covered[static_cast<size_t>(c)] && row[c] == 0) {
                    found_row = r;
                    found_col = c;
                    break;
                }
            }
        }
        if (found_row < 0)
            return 5;

        mask_matrix.at<int>(found_row, found_col) = PRIME;
        saverow = found_row;
        savecol = found_col;
        const int star = starInRow(found_row);
        if (star < 0)
            return 4;
        row_covered[static_cast<size_t>(found_row)] = 1;
        col_covered[static_cast<size_t>(star)] = 0;
    }
}

int Munkres::step4()
{
    const int n = matrix.rows;
    std::vector<std::pair<int, int>> sequence;
    sequence.emplace_back(saverow, savecol);
    const auto inSequence = [&sequence](int r, int c) {
        return std::find(sequence.begin(), sequence.end(), std::make_pair(r, c)) != sequence.end();
    };

    for (;;) {
        const int col = sequence.back().second;
        int star_row = -1;
        for (int r = 0; r < n; ++r) {
            if (mask_matrix.at<int>(r, col) == STAR && !inSequence(r, col)) {
                star_row = r;
                break;
            }
        }
        if (star_row < 0)
            break;
        sequence.emplace_back(star_row, col);

        int prime_col = -1;
        for (int c = 0; c < n; ++c) {
            if (mask_matrix.at<int>(star_row, c) == PRIME && !inSequence(star_row, c)) {
                prime_col = c;
                break;
            }
        }
        if (prime_col < 0)
            break;
        sequence.emplace_back(star_row, prime_col);
    }

    for (const auto &cell : sequence) {
        int &mark = mask_matrix.at<int>(cell.first, cell.second);
        if (mark == STAR)
            mark = NORMAL;
        else if (mark == PRIME)
            mark = STAR;
    }
    for (int r = 0; r < n; ++r) {
        int *marks = mask_matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            if (marks[c] == PRIME)
                marks[c] = NORMAL;
        }
    }
    std::fill(row_covered.begin(), row_covered.end(), 0);
    std::fill(col_covered.begin(), col_covered.end(), 0);
    return 2;
}

int Munkres::step5()
{
    const int n = matrix.rows;
    int h = 0;
    for (int r = 0; r < n; ++r) {
        if (row_covered[static_cast<size_t>(r)])
            continue;
        const int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            if (col_covered[static_cast<size_t>(c)])
                continue;
            const int v = row[c];
            if ((h > v && v != 0) || h == 0)
                h = v;
        }
    }
    for (int r = 0; r < n; ++r) {
        if (!row_covered[static_cast<size_t>(r)])
            continue;
        int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c)
            row[c] += h;
    }
    for (int c = 0; c < n; ++c) {
        if (col_covered[static_cast<size_t>(c)])
            continue;
        for (int r = 0; r < n; ++r)
            matrix.at<int>(r, c) -= h;
    }
    return 3;
}
