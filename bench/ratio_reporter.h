// A console reporter that keeps each benchmark's wall-clock time per iteration (the median
// with --benchmark_repetitions=N, as a shared machine preempts) and its counters, so that a
// bench can print the ratio of one benchmark to its baseline after the runs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.error_occurred || (r.run_type != Run::RT_Iteration && !median))
                continue;
            std::string name = r.run_name.function_name;
            if (!median && medians_.count(name))
                continue;
            if (median)
                medians_.insert(name);
            ns_[name] = r.GetAdjustedRealTime() *
                        benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                        benchmark::GetTimeUnitMultiplier(r.time_unit);
            for (const auto &[cname, c] : r.counters)
                counters_[name + "/" + cname] = c.value;
        }
    }

    // "what  ratio  (at most bound)", with OVER when above it; a bound of 0 prints no bound.
    void ratio(const char *what, const char *num, const char *den, double bound) const {
        auto n = ns_.find(num), d = ns_.find(den);
        if (n == ns_.end() || d == ns_.end() || d->second <= 0)
            return;
        double r = n->second / d->second;
        if (bound > 0)
            std::printf("%-46s %8.3f  (at most %.1f)%s\n", what, r, bound,
                        r <= bound ? "" : "  OVER");
        else
            std::printf("%-46s %8.3f\n", what, r);
    }

    // A counter of a benchmark's run ("BM_Name/counter"); false when it did not run.
    bool counter(const std::string &name, double *value) const {
        auto it = counters_.find(name);
        if (it == counters_.end())
            return false;
        *value = it->second;
        return true;
    }

  private:
    std::map<std::string, double> ns_;
    std::map<std::string, double> counters_;
    std::set<std::string> medians_;
};
