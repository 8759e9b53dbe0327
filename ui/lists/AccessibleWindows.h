#pragma once
// The list windows as screen readers see them: each is a window named by its title (the event
// list, which has no title while no recorder is shown, by its own name), not a bare pane.

class QWidget;

namespace fsv::ui {

// Marks `window` as a list window read out as `name` while its title is empty. The first call
// installs the accessibility factory that gives such windows the window role.
void markListWindow(QWidget* window, const char* name);

}  // namespace fsv::ui
