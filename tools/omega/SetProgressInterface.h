#pragma once

#include <string>

// Progress of a long operation: percent from 0 to 100 and a line saying what is happening.
class CSetProgressInterface {
public:
    virtual ~CSetProgressInterface() = default;
    virtual void SetProgress(double percent, const std::wstring& text) = 0;
};
