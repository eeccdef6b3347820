#pragma once

#include <utility>
#include <vector>

#include <opencv2/core.hpp>

// Hungarian method on an integer cost matrix. The scanning orders fix which
// of several equally cheap assignments is returned (rows before columns,
// lowest index first).
class Munkres
{
public:
    // Prints the input, the cover progress and the result to standard output.
    void setVerbose(bool verbose) { this->verbose = verbose; }
    // m: CV_32SC1, R x C with R, C >= 1. On return it holds 0 in each assigned
    // cell and -1 elsewhere; min(R, C) cells are assigned.
    void solve(cv::Mat &m);

private:
    enum Mark { NORMAL = 0, STAR = 1, PRIME = 2 };

    void replaceZeros();
    void reduce();
    void listZeros();
    int step1();
    int step2();
    int step3();
    int step4();
    int step5();

    cv::Mat matrix; // n x n working costs
    cv::Mat mask_matrix; // n x n marks
    std::vector<char> row_covered;
    std::vector<char> col_covered;
    int saverow = 0;
    int savecol = 0;
    bool verbose = false;

    // Kept in step with the matrix and the marks, so that no step has to
    // search the whole matrix: a row or column holds at most one star, a row
    // at most one prime.
    std::vector<std::vector<int>> zeros; // per row, the columns holding 0, ascending
    std::vector<int> starInRow; // column, or -1
    std::vector<int> starInCol; // row, or -1
    std::vector<int> primeInRow; // column, or -1
    std::vector<int> primedRows;
    std::vector<int> keep; // per column, in step 5
    std::vector<int> fill;
    std::vector<std::pair<int, int>> sequence;
};
