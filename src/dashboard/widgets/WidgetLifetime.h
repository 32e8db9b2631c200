#pragma once

class QWidget;

// Takes a widget off the screen at once and deletes it once control is back in the event loop. A widget
// may be the one whose signal is running right now (a row's trash button deleting the row's entry, which
// rebuilds the list): deleting it on the spot frees the object its caller still uses. The widget leaves
// its parent too, so it is no longer found among the page's children.
void discardLater(QWidget* widget);
