#include "engine/FFmpegTask.h"

#include "binding/Exception.h"
#include "binding/FFmpegLoader.h"

TFFmpeg::~TFFmpeg() {
    // The probe only borrows the input context, which the core frees.
    Probe.Close();
    // Closes the files (an output that never got a byte is removed).
    if (FFmpegLoader().LibsLoaded(DefaultLibs)) FreeFiles();
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
        if (task->running && task->thread_id.load() == thread) return task;
    return nullptr;
}

void TFFmpegList::Delete(int index) {
    TFFmpeg* task = Items(index);
    items_.erase(items_.begin() + index);
    for (size_t i = static_cast<size_t>(index); i < items_.size(); ++i) items_[i]->index = static_cast<int>(i);
    Release(task);
}

void TFFmpegList::Clear() {
    std::vector<TFFmpeg*> items;
    items.swap(items_);
    for (TFFmpeg* task : items) Release(task);
}

void TFFmpegList::Release(TFFmpeg* task) {
    if (task->claimed && !task->reported) {
        task->detached = true;
        task->Abort();
        return;
    }
    delete task;
}
