#include "graphicskeyboard.h"

#include <QGraphicsSvgItem>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr char kBackgroundId[] = "background";

// Qt key code to HID usage; shifted symbols map to the US key producing them.
constexpr std::pair<int, int> kKeyUsages[] = {
    {Qt::Key_Exclam, 0x1E},     {Qt::Key_At, 0x1F},           {Qt::Key_NumberSign, 0x20},
    {Qt::Key_Dollar, 0x21},     {Qt::Key_Percent, 0x22},      {Qt::Key_AsciiCircum, 0x23},
    {Qt::Key_Ampersand, 0x24},  {Qt::Key_Asterisk, 0x25},     {Qt::Key_ParenLeft, 0x26},
    {Qt::Key_ParenRight, 0x27}, {Qt::Key_Return, 0x28},       {Qt::Key_Enter, 0x28},
    {Qt::Key_Escape, 0x29},     {Qt::Key_Backspace, 0x2A},    {Qt::Key_Tab, 0x2B},
    {Qt::Key_Space, 0x2C},      {Qt::Key_Minus, 0x2D},        {Qt::Key_Underscore, 0x2D},
    {Qt::Key_Equal, 0x2E},      {Qt::Key_Plus, 0x2E},         {Qt::Key_BracketLeft, 0x2F},
    {Qt::Key_BraceLeft, 0x2F},  {Qt::Key_BracketRight, 0x30}, {Qt::Key_BraceRight, 0x30},
    {Qt::Key_Backslash, 0x31},  {Qt::Key_Bar, 0x31},          {Qt::Key_Semicolon, 0x33},
    {Qt::Key_Colon, 0x33},      {Qt::Key_Apostrophe, 0x34},   {Qt::Key_QuoteDbl, 0x34},
    {Qt::Key_QuoteLeft, 0x35},  {Qt::Key_AsciiTilde, 0x35},   {Qt::Key_Comma, 0x36},
    {Qt::Key_Less, 0x36},       {Qt::Key_Period, 0x37},       {Qt::Key_Greater, 0x37},
    {Qt::Key_Slash, 0x38},      {Qt::Key_Question, 0x38},     {Qt::Key_CapsLock, 0x39},
    {Qt::Key_Print, 0x46},      {Qt::Key_ScrollLock, 0x47},   {Qt::Key_Pause, 0x48},
    {Qt::Key_Insert, 0x49},     {Qt::Key_Home, 0x4A},         {Qt::Key_PageUp, 0x4B},
    {Qt::Key_Delete, 0x4C},     {Qt::Key_End, 0x4D},          {Qt::Key_PageDown, 0x4E},
    {Qt::Key_Right, 0x4F},      {Qt::Key_Left, 0x50},         {Qt::Key_Down, 0x51},
    {Qt::Key_Up, 0x52},         {Qt::Key_NumLock, 0x53},
};

// A key's place in the layout's own units, so that moving the focus does
// not depend on the window's scale.
QRectF placeOf(const GraphicsKey *key) {
  return key->mapRectToParent(key->boundingRect());
}

}  // namespace

GraphicsKeyboard::GraphicsKeyboard(const QString &image, const QString &name, const QString &menu,
                                   bool sequenced, QGraphicsItem *parentItem)
    : QGraphicsItem(parentItem), name(name), menu(menu), sequenced(sequenced) {
  setAcceptHoverEvents(true);
  setFlag(ItemHasNoContents);
  m_renderer = new QSvgRenderer(image, this);
  selectedKey = nullptr;
  m_background = new QGraphicsSvgItem(this);
  m_background->setParent(this);
  m_background->setSharedRenderer(m_renderer);
  // A picture without a background still shows its keys; only an existing
  // element is drawn, since an unknown id would draw the whole picture.
  if (m_renderer->isValid() && m_renderer->elementExists(kBackgroundId)) {
    m_background->setElementId(kBackgroundId);
    m_background->setPos(GraphicsKey::elementRect(m_renderer, kBackgroundId).topLeft());
  } else {
    m_background->setVisible(false);
  }
  fillKeyMap();
}

void GraphicsKeyboard::fillKeyMap() {
  for (int i = 0; i < 26; ++i) keyMap.insert(Qt::Key_A + i, 0x04 + i);
  for (int i = 0; i < 9; ++i) keyMap.insert(Qt::Key_1 + i, 0x1E + i);
  keyMap.insert(Qt::Key_0, 0x27);
  for (int i = 0; i < 12; ++i) keyMap.insert(Qt::Key_F1 + i, 0x3A + i);
  for (int i = 0; i < 3; ++i) keyMap.insert(Qt::Key_F13 + i, 0x68 + i);
  for (const auto &[code, usage] : kKeyUsages) keyMap.insert(code, usage);
}

bool GraphicsKeyboard::hasPicture() const {
  return m_renderer->isValid();
}

void GraphicsKeyboard::addKey(const QString &name, const QString &tooltip, const QString &highlight,
                              const QString &dark, bool isModifier, int usb, int modifier,
                              int sequence) {
  auto *key = new GraphicsKey(this);
  key->setParent(this);
  key->setSharedRenderer(m_renderer);
  key->init(name, tooltip, highlight, dark, isModifier, usb, modifier, sequence);
  key->setClickable(true);
  key->setToolTip(tooltip);
  connect(key, &GraphicsKey::pressed, this, &GraphicsKeyboard::keyClicked);
  keys.append(key);
}

// A key dropped from the selection or a preview stays lit while it still has
// another reason to be (selected, or latched as a modifier).
void GraphicsKeyboard::restoreLook(GraphicsKey *key) {
  key->setHighlighted(key == selectedKey || heldModifiers.contains(key));
}

void GraphicsKeyboard::keyClicked(GraphicsKey *key) {
  if (key->getIsModifier()) {
    // Membership decides, not the look: a blinking modifier may be dark
    // while it is still held.
    if (heldModifiers.removeAll(key) > 0) {
      key->setHighlighted(false);
    } else {
      heldModifiers.append(key);
      key->setHighlighted(true);
    }
    return;
  }
  if (selectedKey == nullptr) {
    selectedKey = key;
    key->setHighlighted(true);
  } else {
    GraphicsKey *previous = selectedKey;
    selectedKey = nullptr;
    restoreLook(previous);
    key->setHighlighted(false);
  }
  emit clicked(key, heldModifiers, false);
}

void GraphicsKeyboard::clearPreview() {
  const QList<GraphicsKey *> lit = std::exchange(previewKeys, {});
  for (GraphicsKey *key : lit) restoreLook(key);
}

void GraphicsKeyboard::clearSelection() {
  if (selectedKey != nullptr) {
    GraphicsKey *previous = selectedKey;
    selectedKey = nullptr;
    restoreLook(previous);
  }
  clearPreview();
}

void GraphicsKeyboard::clearHeldModifiers() {
  const QList<GraphicsKey *> held = std::exchange(heldModifiers, {});
  for (GraphicsKey *key : held) restoreLook(key);
}

void GraphicsKeyboard::blinkSelection() {
  if (selectedKey != nullptr) selectedKey->setHighlighted(!selectedKey->getHighlighted());
  for (GraphicsKey *key : std::as_const(heldModifiers)) key->setHighlighted(!key->getHighlighted());
}

void GraphicsKeyboard::select(GraphicsKey *key) {
  if (selectedKey != nullptr) {
    GraphicsKey *previous = selectedKey;
    selectedKey = nullptr;
    restoreLook(previous);
  }
  selectedKey = key;
  key->setHighlighted(true);
}

bool GraphicsKeyboard::selectNextSequenced() {
  const int wanted = selectedKey != nullptr ? selectedKey->getSequence() + 1 : 1;
  for (GraphicsKey *key : std::as_const(keys)) {
    if (key->getSequence() != wanted) continue;
    select(key);
    emit clicked(key, heldModifiers, true);
    return true;
  }
  return false;
}

bool GraphicsKeyboard::highlightForKeyEvent(int keyCode, Qt::KeyboardModifiers modifiers) {
  if (keyCode == 0 || keyCode == Qt::Key_unknown) return false;
  const auto found = keyMap.constFind(keyCode);
  if (found == keyMap.cend()) return false;
  const int usage = found.value();
  int bits = 0;
  if (modifiers & Qt::ControlModifier) bits |= kControlBit;
  if (modifiers & Qt::ShiftModifier) bits |= kShiftBit;
  if (modifiers & Qt::AltModifier) bits |= kAltBit;
  if (modifiers & Qt::MetaModifier) bits |= kMetaBit;

  clearPreview();
  for (GraphicsKey *key : std::as_const(keys)) {
    if (!key->getIsModifier() || (key->getModifier() & bits) == 0) continue;
    key->setHighlighted(true);
    previewKeys.append(key);
    bits &= ~key->getModifier();
  }
  for (GraphicsKey *key : std::as_const(keys)) {
    if (key->getUsb() != usage || key->getModifier() != bits) continue;
    key->setHighlighted(true);
    previewKeys.append(key);
    return true;
  }
  return false;
}

QRectF GraphicsKeyboard::boundingRect() const {
  return childrenBoundingRect();
}

void GraphicsKeyboard::paint(QPainter *, const QStyleOptionGraphicsItem *, QWidget *) {}

GraphicsKey *GraphicsKeyboard::keyFor(int usage, int modifier) const {
  GraphicsKey *plain = nullptr;
  bool hasModifierKeys = false;
  for (GraphicsKey *key : keys) {
    hasModifierKeys = hasModifierKeys || key->getIsModifier();
    if (key->getIsModifier()) continue;
    if (key->getUsb() == usage && key->getModifier() == modifier) return key;
    // Codes from 0xE0 on are no keyboard keys: their second byte is no modifier.
    if (!plain && usage < 0xE0 && key->getUsb() == usage && key->getModifier() == 0) plain = key;
  }
  return hasModifierKeys ? plain : nullptr;
}

// ---- the keyboard focus ----

void GraphicsKeyboard::setFocusedKey(GraphicsKey *key) {
  if (key && !keys.contains(key)) return;
  if (key == focusedKey) return;
  if (focusedKey) focusedKey->setFocusRing(false);
  focusedKey = key;
  if (focusedKey) focusedKey->setFocusRing(focusShown);
  emit focusMoved(focusedKey);
}

void GraphicsKeyboard::setFocusShown(bool shown) {
  focusShown = shown;
  if (focusedKey) focusedKey->setFocusRing(shown);
}

// Keys whose middles lie within half a key's height of a row's first key
// share its row; the artwork's rows are never that close.
QList<GraphicsKey *> GraphicsKeyboard::keysInReadingOrder() const {
  QList<GraphicsKey *> order = keys;
  std::stable_sort(order.begin(), order.end(), [](GraphicsKey *a, GraphicsKey *b) {
    return placeOf(a).center().y() < placeOf(b).center().y();
  });
  QList<GraphicsKey *> result;
  for (qsizetype start = 0; start < order.size();) {
    const QRectF first = placeOf(order[start]);
    qsizetype end = start + 1;
    while (end < order.size() &&
           placeOf(order[end]).center().y() - first.center().y() < first.height() / 2)
      ++end;
    QList<GraphicsKey *> row = order.mid(start, end - start);
    std::stable_sort(row.begin(), row.end(), [](GraphicsKey *a, GraphicsKey *b) {
      return placeOf(a).center().x() < placeOf(b).center().x();
    });
    result += row;
    start = end;
  }
  return result;
}

bool GraphicsKeyboard::focusNext(bool forward) {
  const QList<GraphicsKey *> order = keysInReadingOrder();
  if (order.isEmpty()) return false;
  const qsizetype at = order.indexOf(focusedKey);
  if (at < 0) {
    setFocusedKey(forward ? order.first() : order.last());
    return true;
  }
  const qsizetype next = at + (forward ? 1 : -1);
  if (next < 0 || next >= order.size()) return false;
  setFocusedKey(order[next]);
  return true;
}

// The nearest key whose middle lies that way; a key off to the side counts
// twice its offset, so a key in the same row or column wins over a closer
// one beside it.
bool GraphicsKeyboard::focusToward(Direction direction) {
  if (!focusedKey) return focusNext(true);
  const QPointF from = placeOf(focusedKey).center();
  GraphicsKey *best = nullptr;
  qreal bestScore = std::numeric_limits<qreal>::max();
  for (GraphicsKey *key : std::as_const(keys)) {
    if (key == focusedKey) continue;
    const QPointF d = placeOf(key).center() - from;
    qreal along = 0, across = 0;
    switch (direction) {
      case Direction::kLeft:
        along = -d.x(), across = d.y();
        break;
      case Direction::kRight:
        along = d.x(), across = d.y();
        break;
      case Direction::kUp:
        along = -d.y(), across = d.x();
        break;
      case Direction::kDown:
        along = d.y(), across = d.x();
        break;
    }
    if (along <= 0.5) continue;
    const qreal score = along + 2 * std::abs(across);
    if (score < bestScore) {
      bestScore = score;
      best = key;
    }
  }
  if (!best) return false;
  setFocusedKey(best);
  return true;
}
