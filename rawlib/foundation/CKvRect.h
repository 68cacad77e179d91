// Integer rectangle of the raw library's crop and size work; right and bottom are exclusive. As with
// CKvPoint, every operation is virtual and the composite ones are built on the edge accessors.
// Edge arithmetic (Width, Height, Offset, MoveTo) wraps modulo 2^32 like CKvPoint's.
#pragma once

#include "platform/pravon/PravonTypes.h"
#include "platform/win/wintypes.h"
#include "rawlib/foundation/CKvPoint.h"

struct KvBigRect {
    LONG top;
    LONG left;
    LONG bottom;
    LONG right;
};
static_assert(sizeof(KvBigRect) == 16, "KvBigRect is four 32-bit edges");

class CKvRect : public KvBigRect {
public:
    CKvRect(LONG top, LONG left, LONG bottom, LONG right) : KvBigRect{top, left, bottom, right} {}
    CKvRect(const CKvRect& other) = default;
    CKvRect& operator=(const CKvRect& other) = default;

    virtual LONG GetTop() const;
    virtual LONG GetLeft() const;
    virtual LONG GetBottom() const;
    virtual LONG GetRight() const;
    // (left, top) and (right, bottom).
    virtual CKvPoint TopLeft() const;
    virtual CKvPoint BottomRight() const;
    virtual LONG Width() const;
    virtual LONG Height() const;
    // Width / height; a zero height gives the IEEE quotient.
    virtual double GetAspect() const;
    // (width, height).
    virtual CKvPoint Size() const;
    virtual void SetTop(LONG v);
    virtual void SetLeft(LONG v);
    virtual void SetBottom(LONG v);
    virtual void SetRight(LONG v);
    virtual void SetTopLeft(const CKvPoint& p);
    virtual void SetBottomRight(const CKvPoint& p);
    // The larger top and left with the smaller bottom and right; all zero when that is empty.
    virtual CKvRect Intersect(const CKvRect& other) const;
    virtual void MoveToOrigin();
    // To the origin, then offset by (x, y).
    virtual void MoveTo(LONG x, LONG y);
    virtual void MoveTo(const CKvPoint& p);
    virtual void Offset(LONG dx, LONG dy);
    virtual void Offset(const CKvPoint& by);
    virtual CKvRect& operator+=(const CKvPoint& by);
    virtual CKvRect& operator-=(const CKvPoint& by);
    // Copy out in the order top, left, bottom, right.
    virtual void Get(KvBigRect& to) const;
    // From and to the imaging framework's left, top, right, bottom layout.
    virtual void SetLTRB(const PravonRect& from);
    virtual bool Contains(const CKvPoint& p) const;
    // False only when top < bottom and left < right.
    virtual bool IsEmpty() const;
    virtual void GetLTRB(PravonRect& to) const;
    virtual ~CKvRect() = default;
};
