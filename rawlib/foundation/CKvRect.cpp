#include "rawlib/foundation/CKvRect.h"

#include <algorithm>

LONG CKvRect::GetTop() const {
    return top;
}
LONG CKvRect::GetLeft() const {
    return left;
}
LONG CKvRect::GetBottom() const {
    return bottom;
}
LONG CKvRect::GetRight() const {
    return right;
}
CKvPoint CKvRect::TopLeft() const {
    return CKvPoint(GetLeft(), GetTop());
}
CKvPoint CKvRect::BottomRight() const {
    return CKvPoint(GetRight(), GetBottom());
}
LONG CKvRect::Width() const {
    return Kv::WrapSub(GetRight(), GetLeft());
}
LONG CKvRect::Height() const {
    return Kv::WrapSub(GetBottom(), GetTop());
}
double CKvRect::GetAspect() const {
    return Kv::Ratio(Width(), Height());
}
CKvPoint CKvRect::Size() const {
    return CKvPoint(Width(), Height());
}
void CKvRect::SetTop(LONG v) {
    top = v;
}
void CKvRect::SetLeft(LONG v) {
    left = v;
}
void CKvRect::SetBottom(LONG v) {
    bottom = v;
}
void CKvRect::SetRight(LONG v) {
    right = v;
}

void CKvRect::SetTopLeft(const CKvPoint& p) {
    SetLeft(p.GetX());
    SetTop(p.GetY());
}

void CKvRect::SetBottomRight(const CKvPoint& p) {
    SetRight(p.GetX());
    SetBottom(p.GetY());
}

CKvRect CKvRect::Intersect(const CKvRect& other) const {
    CKvRect common(std::max(GetTop(), other.GetTop()), std::max(GetLeft(), other.GetLeft()),
                   std::min(GetBottom(), other.GetBottom()), std::min(GetRight(), other.GetRight()));
    if (common.IsEmpty())
        return CKvRect(0, 0, 0, 0);
    return common;
}

void CKvRect::MoveToOrigin() {
    Offset(Kv::WrapSub(0, GetLeft()), Kv::WrapSub(0, GetTop()));
}

void CKvRect::MoveTo(LONG x, LONG y) {
    MoveToOrigin();
    Offset(x, y);
}

void CKvRect::MoveTo(const CKvPoint& p) {
    MoveTo(p.GetX(), p.GetY());
}

void CKvRect::Offset(LONG dx, LONG dy) {
    CKvPoint topLeft = TopLeft();
    CKvPoint bottomRight = BottomRight();
    topLeft.Offset(dx, dy);
    bottomRight.Offset(dx, dy);
    SetTopLeft(topLeft);
    SetBottomRight(bottomRight);
}

void CKvRect::Offset(const CKvPoint& by) {
    Offset(by.GetX(), by.GetY());
}

CKvRect& CKvRect::operator+=(const CKvPoint& by) {
    Offset(by);
    return *this;
}

CKvRect& CKvRect::operator-=(const CKvPoint& by) {
    Offset(Kv::WrapSub(0, by.GetX()), Kv::WrapSub(0, by.GetY()));
    return *this;
}

void CKvRect::Get(KvBigRect& to) const {
    to.top = GetTop();
    to.left = GetLeft();
    to.bottom = GetBottom();
    to.right = GetRight();
}

void CKvRect::SetLTRB(const PravonRect& from) {
    SetLeft(from.left);
    SetTop(from.top);
    SetRight(from.right);
    SetBottom(from.bottom);
}

bool CKvRect::Contains(const CKvPoint& p) const {
    return p.IsInside(*this);
}

bool CKvRect::IsEmpty() const {
    return !(GetTop() < GetBottom() && GetLeft() < GetRight());
}

void CKvRect::GetLTRB(PravonRect& to) const {
    to.left = GetLeft();
    to.top = GetTop();
    to.right = GetRight();
    to.bottom = GetBottom();
}
