#include "tests/robustness/figures.h"

#include "tests/support/test_files.h"

#include "platform/platform.h"

#include <cstdio>

namespace {

std::wstring FiguresPath(const std::string& name)
{
    const std::wstring dir = ToWindowsPath(QUILLBROOK_ROBUSTNESS_DIR);
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + Widen(name) + L".figures";
}

} // namespace

Figures::Figures(std::string name) : m_name(std::move(name))
{
    Write(false);
}

std::int64_t Figures::Get(const std::string& key) const
{
    const auto found = m_values.find(key);
    return found == m_values.end() ? 0 : found->second;
}

void Figures::Finish()
{
    std::printf("figures of %s:\n", m_name.c_str());
    for (const auto& [key, value] : m_values) {
        std::printf("  %s %lld\n", key.c_str(), static_cast<long long>(value));
    }
    std::fflush(stdout);
    Write(true);
}

void Figures::Write(bool finished) const
{
    FILE* file = _wfopen(FiguresPath(m_name).c_str(), L"w");
    if (file == nullptr) {
        return;
    }
    for (const auto& [key, value] : m_values) {
        std::fprintf(file, "%s %lld\n", key.c_str(), static_cast<long long>(value));
    }
    std::fprintf(file, "finished %d\n", finished ? 1 : 0);
    std::fclose(file);
}

void Figures::RecordAbort(const char* name, const char* kind)
{
    if (*name == '\0') {
        return;
    }
    FILE* file = _wfopen(FiguresPath(name).c_str(), L"a");
    if (file != nullptr) {
        std::fprintf(file, "%s 1\n", kind);
        std::fclose(file);
    }
}
