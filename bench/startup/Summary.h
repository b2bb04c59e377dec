// Median, smallest and largest of a set of measurements.
#pragma once

#include <vector>

struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
};

// Summarises `values` (at least one); the median of an even count is the
// mean of the middle two.
Summary Summarize(std::vector<double> values);
