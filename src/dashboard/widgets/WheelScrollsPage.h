#pragma once

class QWidget;

// Makes the mouse wheel (or a touchpad's scroll) over the value controls below `root` (drop-downs,
// sliders and spin boxes; scroll bars excepted) scroll the page around them instead of changing their
// value: a control changes only when the user clicks, drags or types into it. The wheel goes to the
// nearest enclosing scroll area; without one, it is dropped. Call it once the controls exist; calling it
// again covers controls added since.
void wheelScrollsPage(QWidget* root);
