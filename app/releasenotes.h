#pragma once

#include <QString>

// The release history shown on the Info page, newest first, as HTML for a text browser.
QString releaseNotesHtml();
