// Page generation benchmark: frmMain::RunCommand (the template streamed through the page builder into
// an atomically replaced 2.htm, then a no-op wallpaper) on generated HTML-like templates, against `cat
// template > page` on the same file system in the same run. Prints one table; run through bench/run.sh.
//
// Peak memory is measured two ways on a separate run: a counting allocator (bytes live on the
// heap at the peak, replacing global operator new/delete) and the peak RSS delta (VmHWM after
// the run minus VmRSS before it, the peak reset through /proc/self/clear_refs).
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "base/AppError.h"
#include "app/frmMain.h"
#include "desktop/WallpaperShell.h"
#include "page/DesktopPage.h"
#include "base/FileIO.h"
#include "registry/StandaloneRegistry.h"
#include "unit/TestSupport.h"

extern char** environ;

// ---- Counting allocator -------------------------------------------------------------------

namespace {
std::atomic<long long> g_heapLive{0};
std::atomic<long long> g_heapPeak{0};

void NoteAlloc(void* p)
{
    if (p == nullptr)
        return;
    long long live = g_heapLive.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                     static_cast<long long>(malloc_usable_size(p));
    long long peak = g_heapPeak.load();
    while (live > peak && !g_heapPeak.compare_exchange_weak(peak, live)) {
    }
}

void* CountedAlloc(std::size_t size)
{
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    NoteAlloc(p);
    return p;
}

void* CountedAlignedAlloc(std::size_t size, std::align_val_t align)
{
    void* p = std::aligned_alloc(static_cast<std::size_t>(align), (size + static_cast<std::size_t>(align) - 1) /
                                                                      static_cast<std::size_t>(align) *
                                                                      static_cast<std::size_t>(align));
    if (p == nullptr)
        throw std::bad_alloc();
    NoteAlloc(p);
    return p;
}

void CountedFree(void* p) noexcept
{
    if (p == nullptr)
        return;
    g_heapLive.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
    std::free(p);
}
}  // namespace

void* operator new(std::size_t size)
{
    return CountedAlloc(size);
}
void* operator new[](std::size_t size)
{
    return CountedAlloc(size);
}
void* operator new(std::size_t size, std::align_val_t align)
{
    return CountedAlignedAlloc(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align)
{
    return CountedAlignedAlloc(size, align);
}
void operator delete(void* p) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p) noexcept
{
    CountedFree(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    CountedFree(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    CountedFree(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    CountedFree(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    CountedFree(p);
}

// ---- fsync timing ---------------------------------------------------------------------------
// The executable's fsync takes the place of libc's for the core linked into it, so the time
// AtomicFileWriter spends flushing (the file, then its folder) is measured exactly.

namespace {
std::atomic<long long> g_fsyncNanos{0};
}

extern "C" int fsync(int fd)
{
    using Fn = int (*)(int);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
    auto start = std::chrono::steady_clock::now();
    int result = real(fd);
    g_fsyncNanos +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    return result;
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace tarnwick;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// ---- Template generation ------------------------------------------------------------------

// HTML-like lines: indentation, attributes with 800/600 (and numbers such as 8000 or 1600 that
// hold them), commas inside text, quoted items with commas, blank lines; LF line ends.
std::string MakeTemplate(std::size_t size)
{
    std::mt19937 random(12345);
    auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    static const char* const words[] = {"desktop", "picture", "news",   "weather", "clock", "links",
                                        "mail",    "search",  "photos", "music",   "notes", "today"};
    auto word = [&]() { return std::string(words[pick(12)]); };
    std::string out;
    out.reserve(size + 256);
    out += "<html>\n<head>\n<title>Desktop 800 x 600</title>\n</head>\n<body bgcolor=\"#000000\">\n";
    while (out.size() < size) {
        std::string indent(pick(4) * 2, ' ');
        if (pick(7) == 0)
            indent = "\t" + indent;
        const unsigned n = pick(100);
        const std::string id = std::to_string(pick(100000));
        if (n < 6) {
            out += indent + "<table width=\"800\" height=\"600\" cellspacing=\"0\" cellpadding=\"4\">\n";
        } else if (n < 10) {
            out +=
                indent + "<img src=\"" + word() + id + ".jpg\" width=\"800\" height=\"600\" alt=\"" + word() + "\">\n";
        } else if (n < 14) {
            out += indent + "<div style=\"position: absolute, left: " + std::to_string(pick(800)) +
                   "px, top: " + std::to_string(pick(600)) + "px\">\n";
        } else if (n < 22) {
            out += indent + "\"" + word() + " " + id + ", " + word() + ", and " + word() + "\", " + word() + "\n";
        } else if (n < 26) {
            out += "\n";
        } else if (n < 30) {
            out += indent + "<p>Total 16000 items, 8000 new, view at 800x600 or larger.</p>\n";
        } else if (n < 60) {
            out += indent + "<tr><td class=\"" + word() + "\">" + word() + " " + id + ", " + word() + " and " + word() +
                   "</td><td align=\"right\">" + std::to_string(pick(1000)) + "</td></tr>\n";
        } else if (n < 80) {
            out += indent + "<a href=\"http://www.example.com/" + word() + "/" + id + ".htm\">" + word() + " " +
                   word() + "</a><br>\n";
        } else {
            out += indent + "<span class=\"" + word() + "\">" + word() + " " + word() + " " + word() + " " + word() +
                   " " + id + "</span>\n";
        }
    }
    out += "</body>\n</html>\n";
    return out;
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// ---- Measurements ---------------------------------------------------------------------------

struct RunTime {
    double total = 0;
    double fsync = 0;
};

RunTime TimeRunCommand(const fs::path& folder)
{
    // Windows XP: the registry is never touched; 1024 x 768; the wallpaper is accepted.
    test::FixedVersion version(VersionRecord{5, 1, 2});
    test::FixedScreen screen(1024, 768, 96);
    StandaloneRegistry registry(folder / "unused-registry.reg");
    test::RecordingShell shell;
    test::RecordingMessageBox messages;
    test::RecordingEnd end;
    Platform platform{version, screen, registry, shell, messages, end, PageFiles::InFolder(folder)};
    g_fsyncNanos = 0;
    auto start = Clock::now();
    {
        frmMain form(platform);
        form.Load();
        form.RunCommand();
    }
    RunTime t;
    t.total = Seconds(Clock::now() - start);
    t.fsync = static_cast<double>(g_fsyncNanos.load()) / 1e9;
    if (end.ends != 1)
        throw std::runtime_error("RunCommand did not end the program");
    return t;
}

// `cat template > page`: cat started directly with its standard output opened as the shell's
// redirection opens it.
double TimeCat(const fs::path& from, const fs::path& to)
{
    auto start = Clock::now();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string fromText = from.string();
    char catName[] = "cat";
    char* argv[] = {catName, fromText.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start cat");
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    double t = Seconds(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cat failed");
    return t;
}

long long ProcStatusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(field);
    while (std::getline(in, line))
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::atoll(line.c_str() + n + 1);
    return -1;
}

bool ResetPeakRss()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

struct Memory {
    double heapPeak = 0;   // bytes
    double rssDelta = -1;  // bytes, -1 when the peak could not be reset
};

Memory MeasureMemory(const fs::path& folder)
{
    malloc_trim(0);
    bool reset = ResetPeakRss();
    long long rssBefore = ProcStatusKb("VmRSS");
    long long liveBefore = g_heapLive.load();
    g_heapPeak = liveBefore;
    TimeRunCommand(folder);
    Memory m;
    m.heapPeak = static_cast<double>(g_heapPeak.load() - liveBefore);
    long long hwm = ProcStatusKb("VmHWM");
    if (reset && rssBefore >= 0 && hwm >= 0)
        m.rssDelta = static_cast<double>(hwm - rssBefore) * 1024.0;
    return m;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Row {
    std::size_t mib = 0;
    double run = 0, fsync = 0, cat = 0;
    Memory memory;
};

std::string Fixed(double v, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
    return buffer;
}

std::string FileSystemType(const fs::path& path)
{
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
        return "ext2/3/4";
    case 0x01021994:
        return "tmpfs";
    case 0x9123683E:
        return "btrfs";
    case 0x58465342:
        return "xfs";
    case 0x794C7630:
        return "overlayfs";
    default: {
        char b[32];
        std::snprintf(b, sizeof b, "type 0x%lx", static_cast<unsigned long>(info.f_type));
        return b;
    }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // bench_page WORK_FOLDER [EXTRA_ROW ...]; an extra row is "label|value|note" from run.sh
    // (the programs' start-up figures), printed in the same table.
    // bench_page --template MIB FILE writes one generated template, for profiling by hand.
    if (argc == 4 && std::strcmp(argv[1], "--template") == 0) {
        WriteFile(argv[3], MakeTemplate(static_cast<std::size_t>(std::atoll(argv[2])) << 20));
        return 0;
    }
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s WORK_FOLDER [\"label|value|note\" ...]\n       %s --template MIB FILE\n",
                     argv[0], argv[0]);
        return 2;
    }
    const fs::path work = argv[1];
    std::vector<std::string> extras(argv + 2, argv + argc);
    try {
        fs::create_directories(work);
        std::vector<Row> rows;
        for (std::size_t mib : {1u, 8u, 64u}) {
            const fs::path folder = work / ("t" + std::to_string(mib));
            fs::create_directories(folder);
            WriteFile(folder / "1.htm", MakeTemplate(mib << 20));
            const int reps = mib == 1 ? 21 : mib == 8 ? 9 : 5;
            Row row;
            row.mib = mib;
            TimeRunCommand(folder);  // warm: the template in the page cache, 2.htm present
            TimeCat(folder / "1.htm", folder / "cat.htm");
            std::vector<double> run, fsyncs, cat;
            for (int i = 0; i < reps; ++i) {
                RunTime t = TimeRunCommand(folder);
                run.push_back(t.total);
                fsyncs.push_back(t.fsync);
                cat.push_back(TimeCat(folder / "1.htm", folder / "cat.htm"));
            }
            row.run = Median(run);
            row.fsync = Median(fsyncs);
            row.cat = Median(cat);
            row.memory = MeasureMemory(folder);
            rows.push_back(row);
            fs::remove_all(folder);
        }

        std::printf(
            "Tarnwick benchmark: Run Tarnwick's page step (frmMain::RunCommand: the template read and the page "
            "written\n"
            "a 1 MiB window at a time, then flushed and renamed over 2.htm) vs `cat 1.htm > page`, same folder (%s, "
            "%s), median of repeated runs.\n"
            "Peak memory: heap = counting allocator (bytes live at the peak), RSS = VmHWM delta; both over the\n"
            "template size T. Screen 1024 x 768.\n\n",
            work.c_str(), FileSystemType(work).c_str());
        std::printf("%-10s | %8s | %8s | %8s | %6s | %13s | %6s | %7s | %7s\n", "template", "run ms", "MiB/s", "cat ms",
                    "x cat", "x cat w/o fsy", "fsync", "heap/T", "RSS/T");
        std::printf("%s\n", std::string(104, '-').c_str());
        for (const Row& r : rows) {
            const double bytes = static_cast<double>(r.mib << 20);
            std::printf("%-10s | %8s | %8s | %8s | %6s | %13s | %5s%% | %7s | %7s\n",
                        (std::to_string(r.mib) + " MiB").c_str(), Fixed(r.run * 1e3, 2).c_str(),
                        Fixed(static_cast<double>(r.mib) / r.run, 1).c_str(), Fixed(r.cat * 1e3, 2).c_str(),
                        Fixed(r.run / r.cat, 2).c_str(), Fixed((r.run - r.fsync) / r.cat, 2).c_str(),
                        Fixed(100.0 * r.fsync / r.run, 0).c_str(), Fixed(r.memory.heapPeak / bytes, 2).c_str(),
                        r.memory.rssDelta < 0 ? "n/a" : Fixed(r.memory.rssDelta / bytes, 2).c_str());
        }
        std::printf("%s\n", std::string(104, '-').c_str());
        const Row& small = rows.front();
        const Row& large = rows.back();
        const double perMibSmall = small.run / static_cast<double>(small.mib);
        const double perMibLarge = large.run / static_cast<double>(large.mib);
        const double computeSmall = (small.run - small.fsync) / static_cast<double>(small.mib);
        const double computeLarge = (large.run - large.fsync) / static_cast<double>(large.mib);
        std::printf("%-46s | %s\n", "linearity: ms/MiB at 1 MiB -> 64 MiB",
                    (Fixed(perMibSmall * 1e3, 2) + " -> " + Fixed(perMibLarge * 1e3, 2) + " (x" +
                     Fixed(perMibLarge / perMibSmall, 2) + "); without fsync " + Fixed(computeSmall * 1e3, 2) + " -> " +
                     Fixed(computeLarge * 1e3, 2) + " (x" + Fixed(computeLarge / computeSmall, 2) + ")")
                        .c_str());
        const double ratio = large.run / large.cat;
        double worstMemory = 0;
        for (const Row& r : rows)
            worstMemory = std::max({worstMemory, r.memory.heapPeak / static_cast<double>(r.mib << 20),
                                    r.memory.rssDelta / static_cast<double>(r.mib << 20)});
        std::printf("%-46s | %s\n", "target: 64 MiB within 3x of cat",
                    (Fixed(ratio, 2) + "x  " + (ratio <= 3.0 ? "MET" : "MISSED") + " (without fsync " +
                     Fixed((large.run - large.fsync) / large.cat, 2) + "x)")
                        .c_str());
        std::printf("%-46s | %s\n", "target: peak memory under 3x template",
                    (Fixed(worstMemory, 2) + "x  " + (worstMemory < 3.0 ? "MET" : "MISSED")).c_str());
        for (const std::string& extra : extras) {
            std::string label = extra, value, note;
            if (auto bar = label.find('|'); bar != std::string::npos) {
                value = label.substr(bar + 1);
                label.resize(bar);
                if (auto bar2 = value.find('|'); bar2 != std::string::npos) {
                    note = value.substr(bar2 + 1);
                    value.resize(bar2);
                }
            }
            std::printf("%-46s | %s%s%s\n", label.c_str(), value.c_str(), note.empty() ? "" : "  ", note.c_str());
        }
        return 0;
    } catch (const AppError& error) {
        std::fprintf(stderr, "bench_page: %s\n", error.Report().c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_page: %s\n", error.what());
    }
    return 1;
}
