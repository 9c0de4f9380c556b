#include "recording/file_type.h"

#include <cwchar>
#include <initializer_list>

#include "textcore/text_helpers.h"

int getFileTypeCode(const wchar_t* path) {
  if (!path) return 0;
  if (wideExtensionMatches(path, L"pwi", true)) return noteFileType;
  for (const wchar_t* extension : {L"jpg", L"jpeg", L"gif", L"png"})
    if (wideExtensionMatches(path, extension, true)) return pictureFileType;
  return 0;
}

bool isPictureStoreFile(const wchar_t* path) {
  // ".dat.jour" contains ".dat": one test covers both.
  return path && std::wcsstr(path, L".dat");
}

RuleVerdict applyFolderRules(const FolderRules& rules, const wchar_t* path) {
  if (rules.requiredFileType && getFileTypeCode(path) != rules.requiredFileType)
    return RuleVerdict::wrongType;
  if (rules.dropPictureStoreFiles && isPictureStoreFile(path)) return RuleVerdict::pictureStoreFile;
  return RuleVerdict::counts;
}
