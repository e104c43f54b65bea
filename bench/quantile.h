#ifndef QUANTILE_H
#define QUANTILE_H

#include <algorithm>
#include <cstddef>

// The value below which the given fraction of the values lie, interpolated
// between neighbours; 0 for no values.
template<typename Container>
double quantile(Container values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto count = std::size_t(values.size());
    const double position = fraction * double(count - 1);
    const auto below = std::size_t(position);
    const std::size_t above = std::min(below + 1, count - 1);
    return double(values[below])
           + (position - double(below)) * double(values[above] - values[below]);
}

#endif // QUANTILE_H
