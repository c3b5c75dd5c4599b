#pragma once

class QColor;
class QPainter;
class QWidget;

namespace quorvex {

// Draws a one-line frame along the edges of `widget` in whole device
// pixels. At fractional scales (125%, 150%) a one-pixel frame drawn in
// widget pixels lands between device pixels and its right or bottom edge is
// lost; this one is always there, and as thick on every side.
void DrawCrispFrame(QPainter& painter, const QWidget& widget, const QColor& color);

}  // namespace quorvex
