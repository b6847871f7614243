// Times the creation of one hour's index database (template copy, 7201
// pre-filled rows, move into place) and, for scale, a plain copy of the
// template in the same folder. Last line: prefill_ms=<median>.
//
//   hour_prefill [folder] [hours]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/HostFolder.h"
#include "recorder/store/IndexFile.h"

namespace fs = std::filesystem;
using orvale::recorder::IndexFile;

namespace {

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <class Step>
double Milliseconds(Step&& step) {
    const auto start = std::chrono::steady_clock::now();
    step();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const int hours = argc > 2 ? std::atoi(argv[2]) : 50;
    const fs::path root = base / "hour_prefill_bench";
    fs::remove_all(root);
    fs::create_directories(root / "hours");
    orvale::platform::SetHostFolder(root.string());
    if (!IndexFile::CreateTemplate()) {
        std::fprintf(stderr, "cannot build the template in %s\n", root.c_str());
        return 1;
    }
    constexpr int64_t kFirstHour = 1706742000;
    std::vector<double> prefill, copy;
    for (int i = 0; i < hours; ++i) {
        const int64_t hour = kFirstHour + int64_t{3600} * i;
        const fs::path path = root / "hours" / IndexFile::MakeFileName(hour);
        prefill.push_back(Milliseconds([&] {
            IndexFile file(path, nullptr);
            if (!file.Open(hour)) std::exit(1);
        }));
        copy.push_back(Milliseconds([&] {
            fs::copy_file(IndexFile::TemplatePath(), root / "copy.kvtidx",
                          fs::copy_options::overwrite_existing);
        }));
    }
    fs::remove_all(root);
    std::printf("hours=%d template_copy_ms=%.3f\n", hours, Median(copy));
    std::printf("prefill_ms=%.3f\n", Median(prefill));
    return 0;
}
