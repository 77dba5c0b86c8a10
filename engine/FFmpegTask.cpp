#include "engine/FFmpegTask.h"

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"

TFFmpeg::~TFFmpeg() {
    // The probe only borrows the input context, which the core frees.
    Probe.Close();
    // Closes the files (an output that never got a byte is removed).
    if (FFmpegLoader().LibsLoaded(DefaultLibs)) FreeFiles();
}

TFFmpegList::~TFFmpegList() {
    for (TFFmpeg* task : items_) delete task;
}

int TFFmpegList::Add(TFFmpeg* task) {
    items_.push_back(task);
    task->index = Count() - 1;
    return task->index;
}

TFFmpeg* TFFmpegList::Items(int index) const {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)];
}

TFFmpeg* TFFmpegList::FindByThreadID(std::thread::id thread) const {
    // Only a running task: ended tasks keep their identifier, and a thread
    // identifier may be given to a new thread once the old one is gone.
    for (TFFmpeg* task : items_)
        if (task->running && (task->thread_id.load() == thread || task->helper_thread_id.load() == thread))
            return task;
    return nullptr;
}

TFFmpeg* TFFmpegList::FindRunning(const void* core) const {
    if (!core) return nullptr;
    for (TFFmpeg* task : items_)
        if (task->running && static_cast<const TCustomFFmpeg*>(task) == core) return task;
    return nullptr;
}

TFFmpeg* TFFmpegList::FindBySerial(uint64_t serial) const {
    for (TFFmpeg* task : items_)
        if (task->serial == serial) return task;
    return nullptr;
}

TFFmpeg* TFFmpegList::Extract(int index) {
    TFFmpeg* task = Items(index);
    items_.erase(items_.begin() + index);
    for (size_t i = static_cast<size_t>(index); i < items_.size(); ++i) items_[i]->index = static_cast<int>(i);
    return task;
}

std::vector<TFFmpeg*> TFFmpegList::ExtractAll() {
    std::vector<TFFmpeg*> items;
    items.swap(items_);
    return items;
}
