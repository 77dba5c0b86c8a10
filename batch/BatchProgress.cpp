#include "batch/BatchProgress.h"

#include <algorithm>

void TBatchProgress::Start(const std::vector<int64_t>& durationsMs, int64_t nowMs, const std::vector<int64_t>& sizes) {
    files_.clear();
    knownMs_ = 0;
    knownCount_ = 0;
    sizedMs_ = 0;
    sizedBytes_ = 0;
    averageMs_ = 1.0;
    expected_ = 0;
    shown_ = 0;
    for (size_t i = 0; i < durationsMs.size(); ++i) AddFile(durationsMs[i], i < sizes.size() ? sizes[i] : -1);
    pausedMs_ = 0;
    pausedAtMs_ = -1;
    startMs_ = nowMs;
    ended_ = 0;
    running_ = 0;
}

int TBatchProgress::AddFile(int64_t durationMs, int64_t sizeBytes) {
    TFile file;
    file.durationMs = durationMs > 0 ? durationMs : -1;
    file.sizeBytes = sizeBytes > 0 ? sizeBytes : -1;
    Learn(file.durationMs, file.sizeBytes);
    files_.push_back(file);
    return Files() - 1;
}

void TBatchProgress::Learn(int64_t durationMs, int64_t sizeBytes) {
    if (durationMs <= 0) return;
    knownMs_ += durationMs;
    ++knownCount_;
    averageMs_ = static_cast<double>(knownMs_) / knownCount_;
    if (sizeBytes <= 0) return;
    sizedMs_ += durationMs;
    sizedBytes_ += sizeBytes;
}

void TBatchProgress::FileProgress(int file, int64_t currentMs, int64_t totalMs, int64_t nowMs) {
    if (file < 0 || file >= Files()) return;
    TFile& f = files_[file];
    if (f.state == TState::Ended) return;
    if (f.state == TState::Waiting) {
        f.state = TState::Running;
        f.startedAtMs = ActiveMs(nowMs);
        f.firstDoneMs = std::max<int64_t>(0, currentMs);
        ++running_;
    }
    // The engine knows the length better once the file is open.
    if (totalMs > 0 && f.durationMs <= 0) {
        f.durationMs = totalMs;
        Learn(f.durationMs, f.sizeBytes);
    }
    f.doneMs = std::max<int64_t>(f.doneMs, currentMs);
}

void TBatchProgress::FileEnded(int file) { End(file, TState::Ended); }

void TBatchProgress::FileStopped(int file) { End(file, TState::Stopped); }

void TBatchProgress::FileDropped(int file) { End(file, TState::Dropped); }

void TBatchProgress::End(int file, TState how) {
    if (file < 0 || file >= Files()) return;
    TFile& f = files_[file];
    if (f.state != TState::Waiting && f.state != TState::Running) return;
    if (f.state == TState::Running) --running_;
    f.state = how;
    ++ended_;
}

double TBatchProgress::Weight(const TFile& f) const {
    if (f.state == TState::Dropped) return 0;
    if (f.durationMs > 0) return static_cast<double>(f.durationMs);
    if (f.sizeBytes > 0 && sizedBytes_ > 0)
        return static_cast<double>(f.sizeBytes) * static_cast<double>(sizedMs_) / static_cast<double>(sizedBytes_);
    return averageMs_;
}

double TBatchProgress::Fraction() const {
    double total = 0, done = 0;
    for (const TFile& f : files_) {
        const double w = Weight(f);
        total += w;
        if (f.state == TState::Ended) done += w;
        // A file's own share never runs past its weight, nor past its end.
        else if (f.durationMs > 0) done += std::min(w, static_cast<double>(f.doneMs));
    }
    total += static_cast<double>(Expected() - Files()) * averageMs_;
    if (total <= 0) return shown_;
    // What becomes known of the lengths may lower the share computed; the batch
    // has not gone back for it.
    shown_ = std::max(shown_, std::clamp(done / total, 0.0, 1.0));
    return shown_;
}

int TBatchProgress::Percent() const { return static_cast<int>(Fraction() * 100.0); }

int64_t TBatchProgress::ElapsedMs(int64_t nowMs) const { return std::max<int64_t>(0, ActiveMs(nowMs) - startMs_); }

int64_t TBatchProgress::RemainingMs(int64_t nowMs) const {
    const double f = Fraction();
    const int64_t elapsed = ElapsedMs(nowMs);
    // A guess from the first moments swings too much to be worth showing.
    if (f >= 1.0) return 0;
    if (f < 0.01 || elapsed < 2000) return -1;
    return static_cast<int64_t>(elapsed * (1.0 - f) / f);
}

double TBatchProgress::FileSpeed(int file, int64_t nowMs) const {
    if (file < 0 || file >= Files()) return 0;
    const TFile& f = files_[file];
    const int64_t wall = ActiveMs(nowMs) - f.startedAtMs;
    if (f.state != TState::Running || wall <= 0) return 0;
    return static_cast<double>(f.doneMs - f.firstDoneMs) / static_cast<double>(wall);
}

void TBatchProgress::Pause(int64_t nowMs) {
    if (!Paused()) pausedAtMs_ = nowMs;
}

void TBatchProgress::Resume(int64_t nowMs) {
    if (!Paused()) return;
    pausedMs_ += std::max<int64_t>(0, nowMs - pausedAtMs_);
    pausedAtMs_ = -1;
}

int64_t TBatchProgress::ActiveMs(int64_t nowMs) const {
    return nowMs - pausedMs_ - (Paused() ? std::max<int64_t>(0, nowMs - pausedAtMs_) : 0);
}

std::string ClockText(int64_t ms) {
    const int64_t s = std::max<int64_t>(0, ms) / 1000;
    const int64_t h = s / 3600, m = (s / 60) % 60, r = s % 60;
    auto two = [](int64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return (h > 0 ? std::to_string(h) + ":" : std::string()) + two(m) + ":" + two(r);
}
