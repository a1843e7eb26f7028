// The words for a module's versions, writes and grade, from the messages of the list.
#include "updater/module_texts.h"

#include "images/image_list.h"
#include "modlib/records.h"
#include "updater/messages.h"

namespace updater {

namespace {

// The version that an embedded image reports about itself, from the list of images.
std::string CarriedVersion(const char* image) {
  const images::ImageInfo* info = images::FindImage(image);
  return info != nullptr ? info->version : image;
}

void Join(std::string* text, const std::string& part) {
  if (!text->empty()) *text += ", ";
  *text += part;
}

}  // namespace

std::string ApplicationText(const ModuleState& state) {
  if (!state.applicationPresent) return message::kNoApplication;
  return std::string(FieldText(state.firmware.Version));
}

std::string PldText(const ModuleState& state) {
  if (!state.pldExamined) return std::string();
  if (state.pldVersion == 0) return message::kPldNotKnown;
  return std::string(FieldText(state.pldInfo.Version));
}

std::string VersionsText(const ModuleState& state) {
  std::string text = message::FillIn(message::kVersionsMcu, {ApplicationText(state)});
  if (state.pldExamined) Join(&text, message::FillIn(message::kVersionsPld, {PldText(state)}));
  return text;
}

std::string WritesText(const ModuleState& state) {
  std::string text;
  if (state.mcuImage != nullptr) {
    Join(&text, message::FillIn(message::kWritesMcu,
                                {ApplicationText(state), CarriedVersion(state.mcuImage)}));
  }
  if (state.pldImage != nullptr) {
    Join(&text,
         message::FillIn(message::kWritesPld, {PldText(state), CarriedVersion(state.pldImage)}));
  }
  if (state.pldRestartWanted) Join(&text, message::kWritesPldAfterRestart);
  return text.empty() ? message::kResultUpToDate : text;
}

std::string GradeText(const ModuleState& state) {
  if (!state.pldExamined) return std::string();
  return state.moduleGrade == 0 ? message::kGradeCommercial : message::kGradeIndustrial;
}

std::vector<const char*> ChosenImages(const ModuleState& state) {
  std::vector<const char*> images;
  for (const char* image : {state.mcuImage, state.pldImage}) {
    if (image != nullptr) images.push_back(image);
  }
  return images;
}

std::string ImagesText(const std::vector<const char*>& images) {
  std::string text;
  for (const char* image : images) {
    if (!text.empty()) text += ' ';
    text += image;
  }
  return text;
}

std::string LineText(const std::string& line) {
  const size_t begin = line.find_first_not_of(' ');
  const size_t end = line.find_last_not_of("\r\n");
  if (begin == std::string::npos || end == std::string::npos || end < begin) return std::string();
  return line.substr(begin, end - begin + 1);
}

}  // namespace updater
