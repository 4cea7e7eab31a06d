// Text stamps for sigillon-batch --text, drawn by its helper program
// sigillon-batch-text (text_helper_main.cpp), which alone loads Qt GUI.
#pragma once

#include <string>

#include "app/batch/run.h"

namespace sigillon::batch {

// The helper's path: beside this program (the build) or in its libexec
// folder (installed); empty, with the reason in problem, when it is in
// neither.
std::string FindTextHelper(std::string& problem);

// A renderer that runs the helper at path and reads the PNG files it
// writes. A scaled run asks for the text at every size, so the first size
// of such a run brings all of them from one run of the helper. It gives
// none when the helper fails; the helper says why on standard error. A
// styled text (TextStyle) comes with alpha. Settings the helper refuses (a
// font it cannot find) give a failure with an empty message.
TextRenderer HelperTextRenderer(const std::string& path);

}  // namespace sigillon::batch
