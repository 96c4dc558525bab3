#pragma once

class QUrl;
class QWidget;

namespace ostra {

// Opens `url` in the system's web browser. Where none opens (no browser installed), a box over
// `parent` says so and shows the address to copy. Returns whether the browser opened.
bool openInBrowser(QWidget *parent, const QUrl &url);

} // namespace ostra
