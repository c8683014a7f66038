#include "build/build_ui.h"

#include "build/file_utils.h"

namespace {

constexpr size_t kMessageCapacity = 1024;

}  // namespace

std::wstring BuildMessage::Format() const {
  if (text == nullptr) {
    return own;
  }
  wchar_t message[kMessageCapacity];
  if (text->id == uitext::kTarCreatedAt.id) {
    LoadUiText(*text, message);
    size_t length = 0;
    if (arguments.size() == 2) {
      ReplaceToken(message, kMessageCapacity, L"<__BUILD_NAME__>", arguments[0].c_str(), &length);
      ReplaceToken(message, kMessageCapacity, L"<__BUILD_PATH__>", arguments[1].c_str(), &length);
    }
    return message;
  }
  const auto argument = [this](size_t i) { return i < arguments.size() ? arguments[i].c_str() : L""; };
  switch (arguments.size()) {
    case 0:
      LoadUiText(*text, message);
      break;
    case 1:
      FormatUiText(*text, message, kMessageCapacity, argument(0));
      break;
    case 2:
      FormatUiText(*text, message, kMessageCapacity, argument(0), argument(1));
      break;
    default:
      FormatUiText(*text, message, kMessageCapacity, argument(0), argument(1), argument(2));
      break;
  }
  return message;
}

BuildMessage QuestionMessage(BuildQuestion question) {
  constexpr UINT kStyle = MB_YESNO | MB_ICONQUESTION;
  switch (question) {
    case BuildQuestion::kTakesSomeTime: {
      wchar_t brand[kMessageCapacity];
      LoadUiText(uitext::kBrandWord, brand);
      return TableMessage(uitext::kAskSlowAvBuild, {brand}, kStyle);
    }
    case BuildQuestion::kRebuildTar:
      return TableMessage(uitext::kAskRebuildTar, {}, kStyle);
    case BuildQuestion::kProtectWithPassword:
      return TableMessage(uitext::kAskPasswordProtect, {}, kStyle);
  }
  return {};
}
