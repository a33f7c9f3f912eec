// The figures a robustness test reports: printed, and kept in a file per test
// under the build tree, from which the summary and RELIABILITY.md are made.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class Figures {
public:
    // `name` identifies the test; the file starts out marked as unfinished,
    // so that a process that dies leaves a trace the summary counts.
    explicit Figures(std::string name);

    void Set(const std::string& key, std::int64_t value) { m_values[key] = value; }
    void Add(const std::string& key, std::int64_t value) { m_values[key] += value; }
    std::int64_t Get(const std::string& key) const;

    // Prints the figures and writes them with the mark that the test ended.
    void Finish();

    // Records a crash or hang into the named test's file (used from the
    // crash and hang reports, so nothing here may allocate much).
    static void RecordAbort(const char* name, const char* kind);

private:
    void Write(bool finished) const;

    std::string m_name;
    std::map<std::string, std::int64_t> m_values;
};
