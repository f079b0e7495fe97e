#include "ui/stores.h"

#include <algorithm>

namespace kelvarn {
namespace {

thread_local const RunGuard* currentGuard = nullptr;

// Runs `effect` on the window thread unless the caller's run was cut off;
// returns its result, or `fallback` when it did not run.
template <class R, class F>
R OnWindowThread(UiThread& ui, R fallback, F&& effect) {
  // One pointer is captured, so that std::function keeps the call in place
  // instead of allocating it: every list addition of a harvest comes here.
  struct Call {
    const RunGuard* guard;
    R result;
    F& effect;
  } call{currentGuard, std::move(fallback), effect};
  ui.Invoke([c = &call] {
    if (c->guard && c->guard->Stale()) return;
    c->result = c->effect();
  });
  return std::move(call.result);
}

template <class F>
void OnWindowThread(UiThread& ui, F&& effect) {
  OnWindowThread(ui, false, [&] {
    effect();
    return true;
  });
}

}  // namespace

ScopedRunGuard::ScopedRunGuard(const RunGuard& guard) : previous_(currentGuard) { currentGuard = &guard; }
ScopedRunGuard::~ScopedRunGuard() { currentGuard = previous_; }
const RunGuard* ScopedRunGuard::Current() { return currentGuard; }

std::int32_t GuardedListBox::AddItem(std::string_view text, std::int32_t itemValue) {
  return OnWindowThread(ui_, std::int32_t{-1},
                        [&] { return store_.Append(text, itemValue) ? store_.Count() - 1 : std::int32_t{-1}; });
}

std::int32_t GuardedListBox::ItemCount() {
  return OnWindowThread(ui_, std::int32_t{0}, [&] { return store_.Count(); });
}

Text GuardedListBox::ItemText(std::int32_t index) {
  return OnWindowThread(ui_, Text(), [&] { return index >= 0 && index < store_.Count() ? store_.At(index) : Text(); });
}

void GuardedListBox::ClearItems() {
  OnWindowThread(ui_, [&] {
    store_.Clear();
    selection_ = -1;
  });
}

void GuardedListBox::SetCurrentSelection(std::int32_t index) {
  OnWindowThread(ui_, [&] {
    selection_ = std::clamp(index, std::int32_t{-1}, store_.Count() - 1);
    if (!extended_) store_.ShowSelection(selection_);
  });
}

std::int32_t GuardedListBox::CurrentSelection() {
  return OnWindowThread(ui_, std::int32_t{-1}, [&] { return selection_; });
}

Text GuardedEditBox::Content() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Get(); });
}

void GuardedEditBox::SetContent(std::string_view text) {
  OnWindowThread(ui_, [&] {
    store_.Set(text);
    if (changed_) changed_();
  });
}

void GuardedEditBox::OnContentChanged(std::function<void()> handler) {
  ui_.Invoke([&] { changed_ = std::move(handler); });
}

void GuardedEditBox::UserChanged() {
  if (changed_) changed_();
}

Text GuardedButton::Caption() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Get(); });
}

void GuardedButton::SetCaption(std::string_view caption) {
  OnWindowThread(ui_, [&] { store_.Set(caption); });
}

void GuardedStatusBar::SetPanelText(std::int32_t panel, std::string_view text) {
  OnWindowThread(ui_, [&] {
    if (panel >= 0 && panel < store_.Count()) store_.Set(panel, text);
  });
}

Text GuardedStatusBar::PanelText(std::int32_t panel) {
  return OnWindowThread(ui_, Text(), [&] { return panel >= 0 && panel < store_.Count() ? store_.Get(panel) : Text(); });
}

void GuardedStatusBar::SetProgressText(std::string_view text) {
  OnWindowThread(ui_, [&] { store_.SetProgress(text); });
}

Text GuardedStatusBar::ProgressText() {
  return OnWindowThread(ui_, Text(), [&] { return store_.Progress(); });
}

void GuardedFileDialog::SetType(std::int32_t type) {
  OnWindowThread(ui_, [&] { type_ = type; });
}

std::int32_t GuardedFileDialog::Type() {
  return OnWindowThread(ui_, std::int32_t{kOpen}, [&] { return type_; });
}

Text FilterExtension(std::string_view filter, std::int32_t index, std::string_view fallback) {
  const TextArray parts = TextSplit(filter, "|");
  const auto at = static_cast<std::size_t>(index) * 2 - 1;
  if (index < 1 || at >= parts.size()) return Text(fallback);
  const std::string_view first = std::string_view(parts[at]).substr(0, parts[at].find(';'));
  const std::size_t dot = first.rfind('.');
  const std::string_view extension = dot == std::string_view::npos ? std::string_view() : first.substr(dot + 1);
  const bool named = !extension.empty() && extension.find_first_of("*?") == std::string_view::npos;
  return Text(named ? extension : fallback);
}

void GuardedFileDialog::SetFilter(std::string_view filter) {
  OnWindowThread(ui_, [&] { filter_ = Text(filter); });
}

bool GuardedFileDialog::ShowFileDialog() {
  return OnWindowThread(ui_, false, [&] {
    const std::optional<FileChoice> chosen = chooser_ ? chooser_({type_, fileName_, filter_}) : std::nullopt;
    if (!chosen) return false;
    fileName_ = chosen->path;
    filterIndex_ = chosen->filterIndex;
    return true;
  });
}

Text GuardedFileDialog::FileName() {
  return OnWindowThread(ui_, Text(), [&] { return fileName_; });
}

std::int32_t GuardedFileDialog::FilterIndex() {
  return OnWindowThread(ui_, std::int32_t{1}, [&] { return filterIndex_; });
}

}  // namespace kelvarn
