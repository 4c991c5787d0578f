#include "common/catalogue.h"

#include <array>
#include <cstdio>

#include "res/ids.h"

namespace common {
namespace {

std::array<std::array<char, kMessageBufferSize>, 2> gTextBuffers{};
int gBufferSelector = 0;

}  // namespace

const char* LoadMessageText(unsigned id) {
  gBufferSelector = (gBufferSelector + 1) % 2;
  // Selector 1 fills the first buffer, 0 the second: the first call after
  // start lands in the first buffer.
  char* target = gBufferSelector == 1 ? gTextBuffers[0].data() : gTextBuffers[1].data();
  host::LoadString(id, target, kMessageBufferSize);
  return target;
}

int CatalogueMessageBox(unsigned captionId, unsigned textId, ButtonSet set) {
  const char* caption = LoadMessageText(captionId);
  const char* text = LoadMessageText(textId);
  return host::MessageBox(text, caption, static_cast<unsigned>(set));
}

void ShowErrorMessage(unsigned textId) {
  CatalogueMessageBox(MSG_CAPTION_ERROR, textId, ButtonSet::Notice);
}

void ShowErrorMessage(unsigned textId, host::DialogWindow owner) {
  const char* caption = LoadMessageText(MSG_CAPTION_ERROR);
  const char* text = LoadMessageText(textId);
  host::DialogMessageBox(owner, text, caption, static_cast<unsigned>(ButtonSet::Notice));
}

void ShowProgress(unsigned formatId, int percent, int& shown) {
  if (percent != shown) {
    shown = percent;
    std::array<char, kMessageBufferSize> line{};
    std::snprintf(line.data(), line.size(), LoadMessageText(formatId), percent);
    host::SetControlText(IDC_STATUS, line.data());
  }
  host::DispatchPendingMessages();
}

}  // namespace common
