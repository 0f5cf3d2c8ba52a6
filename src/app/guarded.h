#pragma once

#include "fixed_texts.h"

#include <exception>
#include <string>

// The program's one way of meeting a failure, shared by main's start-up and
// frames and the page's still frames: runs `step` and hands the text of
// whatever it throws to `report`. The assets and the key track throw plain
// text (a character string or a std::string), the libraries exceptions.
// True when `step` returned normally.
template <typename Step, typename Report> bool guarded(Step step, Report report) {
  try {
    step();
    return true;
  } catch (const char* text) {
    report(text);
  } catch (const std::string& text) {
    report(text.c_str());
  } catch (const std::exception& error) {
    report(error.what());
  } catch (...) {
    report(kUnknownInternalErrorText);
  }
  return false;
}
