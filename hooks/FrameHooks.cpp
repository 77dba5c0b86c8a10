#include "hooks/FrameHooks.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "binding/Entries.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Plug-ins keep whatever they like behind their handles (threads, atexit
// handlers); they are never unloaded.
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;

void LibraryLog(const char* format, const std::string& text) {
    if (avutil.av_log) avutil.av_log(nullptr, AV_LOG_ERROR, format, text.c_str());
}

bool RegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The dynamic linker looks for a needed library by its name on the system's
// search path only, and that path cannot be changed once the process runs.
// A library already loaded under the needed name satisfies it, so the
// plug-in's own helpers are loaded first, each after its own helpers.
void LoadNeighbours(const std::string& folder, const std::string& file, std::set<std::string>& seen) {
    for (const std::string& name : NeededLibraries(file)) {
        if (name.find('/') != std::string::npos) continue;
        const std::string path = folder + name;
        if (!seen.insert(path).second || !RegularFile(path)) continue;
        LoadNeighbours(folder, path, seen);
        // A helper that fails to load leaves the plug-in's own load to tell why.
        ::dlopen(path.c_str(), kOpenFlags);
    }
}

struct TLoadedPlugins {
    std::mutex lock;
    std::map<std::string, void*> modules;  // by the path as given
};

TLoadedPlugins& Loaded() {
    static TLoadedPlugins* loaded = new TLoadedPlugins;  // lives to the end of the process
    return *loaded;
}

void* Symbol(void* module, const char* name) { return ::dlsym(module, name); }

template <typename T>
T EntryPoint(void* module, const char* name) {
    T fn = nullptr;
    void* sym = Symbol(module, name);
    static_assert(sizeof fn == sizeof sym);
    std::memcpy(&fn, &sym, sizeof fn);
    return fn;
}

}  // namespace

std::vector<std::string> SplitHookArguments(const std::string& text) {
    const char separator = text.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size() && static_cast<int>(parts.size()) < kMaxHookArguments) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> NeededLibraries(const std::string& path) {
    std::vector<std::string> names;
    if (elf_version(EV_CURRENT) == EV_NONE) return names;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return names;
    if (Elf* elf = elf_begin(fd, ELF_C_READ, nullptr)) {
        Elf_Scn* section = nullptr;
        while ((section = elf_nextscn(elf, section)) != nullptr) {
            GElf_Shdr header;
            if (!gelf_getshdr(section, &header) || header.sh_type != SHT_DYNAMIC || header.sh_entsize == 0) continue;
            Elf_Data* data = elf_getdata(section, nullptr);
            if (!data) continue;
            const size_t count = header.sh_size / header.sh_entsize;
            for (size_t i = 0; i < count; ++i) {
                GElf_Dyn entry;
                if (!gelf_getdyn(data, static_cast<int>(i), &entry) || entry.d_tag == DT_NULL) break;
                if (entry.d_tag != DT_NEEDED) continue;
                if (const char* name = elf_strptr(elf, header.sh_link, entry.d_un.d_val)) names.emplace_back(name);
            }
        }
        elf_end(elf);
    }
    ::close(fd);
    return names;
}

void* LoadHookLibrary(const std::string& path, std::string& error) {
    TLoadedPlugins& loaded = Loaded();
    std::lock_guard<std::mutex> guard(loaded.lock);
    if (auto found = loaded.modules.find(path); found != loaded.modules.end()) return found->second;
    const std::string folder = FolderOf(path);
    if (!folder.empty()) {
        std::set<std::string> seen{path};
        LoadNeighbours(folder, path, seen);
    }
    void* module = ::dlopen(path.c_str(), kOpenFlags);
    if (!module) {
        const char* reason = ::dlerror();
        error = reason ? reason : path + ": cannot be loaded";
        return nullptr;
    }
    loaded.modules.emplace(path, module);
    return module;
}

int TFrameHookList::Add(const std::vector<std::string>& args) {
    if (args.empty()) return kHookBadPlugin;
    const std::string& path = args[0];
    std::string error;
    void* module = LoadHookLibrary(path, error);
    if (!module) {
        LibraryLog("%s\n", error);
        return kHookCannotLoad;
    }
    THook hook;
    hook.configure = EntryPoint<ArdxHookConfigure>(module, "Configure");
    hook.process = EntryPoint<ArdxHookProcess>(module, "Process");
    hook.release = EntryPoint<ArdxHookRelease>(module, "Release");
    if (!hook.process) {
        LibraryLog("Failed to find Process entrypoint in %s\n", path);
        return kHookBadPlugin;
    }
    if (!hook.configure && args.size() > 1) {
        LibraryLog("Failed to find Configure entrypoint in %s\n", path);
        return kHookBadPlugin;
    }
    std::vector<char*> argv;
    try {
        hooks_.reserve(hooks_.size() + 1);
        argv.reserve(args.size() + 1);
    } catch (const std::bad_alloc&) {
        return kHookNoMemory;
    }
    // The plug-in gets writable copies; it may keep none of them.
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (hook.configure && hook.configure(&hook.context, static_cast<int>(args.size()), argv.data()) != 0) {
        LibraryLog("Failed to Configure %s\n", path);
        return kHookConfigureFailed;
    }
    hooks_.push_back(hook);
    return 0;
}

void TFrameHookList::Process(ArdxHookPicture& picture, int pix_fmt, int width, int height, int64_t pts) const {
    for (const THook& hook : hooks_) hook.process(hook.context, &picture, pix_fmt, width, height, pts);
}

void TFrameHookList::Release() {
    for (const THook& hook : hooks_)
        if (hook.release) hook.release(hook.context);
    hooks_.clear();
}
