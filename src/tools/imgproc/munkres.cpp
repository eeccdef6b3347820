#include "imgproc/munkres.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <limits>

#include <opencv2/core/hal/intrin.hpp>

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

size_t at(int i)
{
    return static_cast<size_t>(i);
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
    row_covered.assign(at(n), 0);
    col_covered.assign(at(n), 0);
    starInRow.assign(at(n), -1);
    starInCol.assign(at(n), -1);
    primeInRow.assign(at(n), -1);
    primedRows.clear();

    replaceZeros();
    reduce();
    listZeros();

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
    std::vector<int> smallest(matrix.ptr<int>(0), matrix.ptr<int>(0) + n);
    for (int r = 1; r < n; ++r) {
        const int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c)
            smallest[at(c)] = std::min(smallest[at(c)], row[c]);
    }
    for (int r = 0; r < n; ++r) {
        int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            if (smallest[at(c)] > 0)
                row[c] -= smallest[at(c)];
        }
    }
}

void Munkres::listZeros()
{
    const int n = matrix.rows;
    zeros.resize(at(n));
    for (int r = 0; r < n; ++r) {
        std::vector<int> &list = zeros[at(r)];
        list.clear();
        const int *row = matrix.ptr<int>(r);
        for (int c = 0; c < n; ++c) {
            if (row[c] == 0)
                list.push_back(c);
        }
    }
}

// Initial stars: each zero with no star in its row or column, rows first.
int Munkres::step1()
{
    const int n = matrix.rows;
    for (int r = 0; r < n; ++r) {
        for (const int c : zeros[at(r)]) {
            if (starInCol[at(c)] < 0 && starInRow[at(r)] < 0) {
                mask_matrix.at<int>(r, c) = STAR;
                starInRow[at(r)] = c;
                starInCol[at(c)] = r;
            }
        }
    }
    return 2;
}

// Covers the starred columns; done when there are n of them.
int Munkres::step2()
{
    const int n = matrix.rows;
    int covercount = 0;
    for (int c = 0; c < n; ++c) {
        if (starInCol[at(c)] >= 0) {
            col_covered[at(c)] = 1;
            ++covercount;
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

// Primes the first uncovered zero, rows first, lowest index first. Covering a
// row and uncovering a column may bring up a zero in an earlier row, so each
// search starts over at row 0.
int Munkres::step3()
{
    const int n = matrix.rows;
    for (;;) {
        int found_row = -1;
        int found_col = -1;
        for (int r = 0; r < n && found_row < 0; ++r) {
            if (row_covered[at(r)])
                continue;
            for (const int c : zeros[at(r)]) {
                if (!col_covered[at(c)]) {
                    found_row = r;
                    found_col = c;
                    break;
                }
            }
        }
        if (found_row < 0)
            return 5;

        mask_matrix.at<int>(found_row, found_col) = PRIME;
        primeInRow[at(found_row)] = found_col;
        primedRows.push_back(found_row);
        saverow = found_row;
        savecol = found_col;
        const int star = starInRow[at(found_row)];
        if (star < 0)
            return 4;
        row_covered[at(found_row)] = 1;
        col_covered[at(star)] = 0;
    }
}

// Augments along the alternating path of primes and stars that starts at the
// last prime: its stars lose their mark, its primes become stars.
int Munkres::step4()
{
    const auto inSequence = [this](int r, int c) {
        return std::find(sequence.begin(), sequence.end(), std::make_pair(r, c)) != sequence.end();
    };
    sequence.clear();
    sequence.emplace_back(saverow, savecol);
    for (;;) {
        const int col = sequence.back().second;
        const int star_row = starInCol[at(col)];
        if (star_row < 0 || inSequence(star_row, col))
            break;
        sequence.emplace_back(star_row, col);
        const int prime_col = primeInRow[at(star_row)];
        if (prime_col < 0 || inSequence(star_row, prime_col))
            break;
        sequence.emplace_back(star_row, prime_col);
    }

    for (const auto &cell : sequence) {
        int &mark = mask_matrix.at<int>(cell.first, cell.second);
        if (mark == STAR) {
            mark = NORMAL;
            if (starInRow[at(cell.first)] == cell.second)
                starInRow[at(cell.first)] = -1;
            if (starInCol[at(cell.second)] == cell.first)
                starInCol[at(cell.second)] = -1;
        }
    }
    for (const auto &cell : sequence) {
        int &mark = mask_matrix.at<int>(cell.first, cell.second);
        if (mark == PRIME) {
            mark = STAR;
            starInRow[at(cell.first)] = cell.second;
            starInCol[at(cell.second)] = cell.first;
        }
    }
    for (const int r : primedRows) {
        const int c = primeInRow[at(r)];
        if (mask_matrix.at<int>(r, c) == PRIME)
            mask_matrix.at<int>(r, c) = NORMAL;
        primeInRow[at(r)] = -1;
    }
    primedRows.clear();
    std::fill(row_covered.begin(), row_covered.end(), 0);
    std::fill(col_covered.begin(), col_covered.end(), 0);
    return 2;
}

// Adds the smallest uncovered value to the covered rows and takes it from the
// uncovered columns, which brings up new zeros among the uncovered cells.
// The smallest value is picked by the rule "(h > v and v != 0) or h = 0";
// this step only runs when no uncovered cell is 0, where that rule gives the
// plain minimum.
int Munkres::step5()
{
    const int n = matrix.rows;
    // Covered columns read as the largest int: (v & 0) | max.
    keep.resize(at(n));
    fill.resize(at(n));
    for (int c = 0; c < n; ++c) {
        keep[at(c)] = col_covered[at(c)] ? 0 : -1;
        fill[at(c)] = col_covered[at(c)] ? std::numeric_limits<int>::max() : 0;
    }
    int h = std::numeric_limits<int>::max();
    for (int r = 0; r < n; ++r) {
        if (row_covered[at(r)])
            continue;
        const int *row = matrix.ptr<int>(r);
        const int *k = keep.data();
        const int *f = fill.data();
        int c = 0;
#if CV_SIMD128
        cv::v_int32x4 smallest = cv::v_setall_s32(h);
        for (; c + 4 <= n; c += 4)
            smallest = cv::v_min(
                smallest, (cv::v_load(row + c) & cv::v_load(k + c)) | cv::v_load(f + c));
        h = cv::v_reduce_min(smallest);
#endif
        for (; c < n; ++c)
            h = std::min(h, (row[c] & k[c]) | f[c]);
    }

    for (int c = 0; c < n; ++c)
        fill[at(c)] = col_covered[at(c)] ? 0 : h;
    for (int r = 0; r < n; ++r) {
        int *row = matrix.ptr<int>(r);
        const int add = row_covered[at(r)] ? h : 0;
        const int *sub = fill.data();
        std::vector<int> &list = zeros[at(r)];
        list.clear();
        int c = 0;
#if CV_SIMD128
        const cv::v_int32x4 added = cv::v_setall_s32(add);
        const cv::v_int32x4 zero = cv::v_setzero_s32();
        for (; c + 4 <= n; c += 4) {
            const cv::v_int32x4 v = cv::v_load(row + c) + (added - cv::v_load(sub + c));
            cv::v_store(row + c, v);
            if (cv::v_check_any(v == zero)) {
                for (int i = c; i < c + 4; ++i) {
                    if (row[i] == 0)
                        list.push_back(i);
                }
            }
        }
#endif
        for (; c < n; ++c) {
            row[c] += add - sub[c];
            if (row[c] == 0)
                list.push_back(c);
        }
    }
    return 3;
}
