// Where a binding command tells what it found and did, and why it failed:
// the console program's output, or the installer log of a custom action.
#pragma once

#include "platform/platform.h"

#include <string>

class BindingReport {
public:
    BindingReport() = default;
    BindingReport(const BindingReport&) = delete;
    BindingReport& operator=(const BindingReport&) = delete;

    // Text in UTF-8, whole lines.
    virtual void Out(const std::string& text) = 0;
    // One failure: what could not be done, and the code that says why.
    virtual void Fail(const std::string& what, HRESULT hr) = 0;

protected:
    ~BindingReport() = default;
};
