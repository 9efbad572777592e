// A drop-down list's entries as the values they stand for, in the list's order. The first entry is the
// default: for a value the list does not hold, and for no selection.
#pragma once

#include <cstddef>

namespace tarvel::ui {

template <class T, std::size_t N> int IndexOf(const T (&choices)[N], T value) {
    for (std::size_t i = 0; i < N; ++i)
        if (choices[i] == value) return static_cast<int>(i);
    return 0;
}

template <class T, std::size_t N> T ChoiceAt(const T (&choices)[N], int index) {
    return index >= 0 && index < static_cast<int>(N) ? choices[index] : choices[0];
}

} // namespace tarvel::ui
