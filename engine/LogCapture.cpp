#include "engine/LogCapture.h"

#include <cinttypes>
#include <condition_variable>
#include <list>
#include <mutex>
#include <vector>

#include "binding/Entries.h"
#include "core/LogLevel.h"
#include "engine/DAzaduVED.h"

namespace {

struct TLogTarget {
    TCustomDAzaduVED* component;
    int deliveries = 0;  // deliveries under way, counted under the list lock
};

// The component list's lock; it also guards the TLogList. It is never held
// while a component's event lock is taken: lines are cut under it and
// delivered after it has been released, so a handler that logs while it holds
// an event lock cannot deadlock against a thread that holds this lock.
struct TCaptureState {
    std::mutex lock;
    std::condition_variable delivered;
    std::list<TLogTarget> targets;
    TLogList lines;
};

// Never destroyed: a library may still log from a leaving thread while the
// process ends and static objects go.
TCaptureState& State() {
    static TCaptureState* state = new TCaptureState;
    return *state;
}

std::string Format(const char* format, va_list args) {
    if (!format) return {};
    auto vsn = myutil.vsnprintf ? myutil.vsnprintf : &std::vsnprintf;
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int size = vsn(small, sizeof small, format, copy);
    va_end(copy);
    if (size < 0) return {};
    if (static_cast<size_t>(size) < sizeof small) return std::string(small, static_cast<size_t>(size));
    std::string text(static_cast<size_t>(size) + 1, '\0');
    vsn(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(size));
    return text;
}

std::string ContextPrefix(void* context) {
    const AVClass* cls = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (!cls) return {};
    const char* name = cls->item_name ? cls->item_name(context) : nullptr;
    char address[32];
    std::snprintf(address, sizeof address, "%08" PRIXPTR, reinterpret_cast<uintptr_t>(cls));
    return std::string("[") + (name ? name : "") + " @ " + address + "]";
}

// The task a context works for, as the core marked it: a codec context (also
// the copy each frame thread of a decoder works on) or a filter of a graph
// carries it in its opaque field. Lines the libraries log on threads of their
// own are found through it.
const void* ContextOwner(void* context) {
    const AVClass* cls = context ? *static_cast<const AVClass* const*>(context) : nullptr;
    if (!cls) return nullptr;
    if (avcodec.avcodec_get_class && cls == avcodec.avcodec_get_class())
        return static_cast<const AVCodecContext*>(context)->opaque;
    if (avfilter.avfilter_get_class && cls == avfilter.avfilter_get_class()) {
        const AVFilterGraph* graph = static_cast<const AVFilterContext*>(context)->graph;
        return graph ? graph->opaque : nullptr;
    }
    return nullptr;
}

}  // namespace

std::string& TLogList::FindOrAdd(std::thread::id thread) {
    if (head_.thread == std::thread::id() || head_.thread == thread) {
        head_.thread = thread;
        return head_.text;
    }
    for (TNode* node = head_.next; node; node = node->next)
        if (node->thread == thread) return node->text;
    TNode* node = new TNode{thread, {}, head_.next};
    head_.next = node;
    return node->text;
}

void TLogList::Clear() {
    head_.thread = std::thread::id();
    head_.text.clear();
    TNode* node = head_.next;
    head_.next = nullptr;
    while (node) {
        TNode* next = node->next;
        delete node;
        node = next;
    }
}

size_t TLogList::NodeCount() const {
    size_t count = head_.thread == std::thread::id() ? 0 : 1;
    for (TNode* node = head_.next; node; node = node->next) ++count;
    return count;
}

void CaptureLibraryLog(void* context, int level, const char* format, va_list args) {
    const int core_level = LibToCoreLogLevel(level);
    if (LogThreshold.load() < core_level) return;
    const std::string message = Format(format, args);
    const std::thread::id self = std::this_thread::get_id();
    const void* owner = ContextOwner(context);

    std::vector<std::string> lines;
    std::vector<TLogTarget*> targets;
    {
        std::lock_guard<std::mutex> guard(State().lock);
        std::string& pending = State().lines.FindOrAdd(self);
        std::string text;
        if (pending.empty())
            text = ContextPrefix(context);
        else
            text.swap(pending);
        text += message;
        size_t start = 0;
        for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
            lines.push_back(text.substr(start, lf - start));
            start = lf + 1;
        }
        pending = text.substr(start);
        if (pending.size() > MaxPendingLogText) lines.push_back(std::move(pending)), pending.clear();
        if (lines.empty()) return;
        for (TLogTarget& target : State().targets) {
            ++target.deliveries;
            targets.push_back(&target);
        }
    }
    for (TLogTarget* target : targets)
        for (const std::string& line : lines) target->component->DeliverLibraryLine(self, owner, core_level, line);
    std::lock_guard<std::mutex> guard(State().lock);
    for (TLogTarget* target : targets) --target->deliveries;
    State().delivered.notify_all();
}

void RegisterLogComponent(TCustomDAzaduVED* component) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().targets.push_back(TLogTarget{component});
}

void UnregisterLogComponent(TCustomDAzaduVED* component) {
    std::unique_lock<std::mutex> guard(State().lock);
    for (auto it = State().targets.begin(); it != State().targets.end(); ++it) {
        if (it->component != component) continue;
        State().delivered.wait(guard, [&] { return it->deliveries == 0; });
        State().targets.erase(it);
        return;
    }
}

void ClearLogLines() {
    std::lock_guard<std::mutex> guard(State().lock);
    State().lines.Clear();
}
