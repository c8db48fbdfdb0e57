// The stand-in host's vectors, box, matrix and bit set.
#include "HostApi.h"
#include "MeshState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

float Point3::Length() const
{
    return std::sqrt(x * x + y * y + z * z);
}

Point3 Point3::Normalize() const
{
    const float length = Length();
    return length > 0 ? standin::Divided(*this, length) : Point3(0, 0, 0);
}

Point3 CrossProd(const Point3& a, const Point3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float DotProd(const Point3& a, const Point3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Box3& Box3::operator+=(const Point3& p)
{
    pmin = {std::min(pmin.x, p.x), std::min(pmin.y, p.y), std::min(pmin.z, p.z)};
    pmax = {std::max(pmax.x, p.x), std::max(pmax.y, p.y), std::max(pmax.z, p.z)};
    return *this;
}

Matrix3::Matrix3()
{
    std::memset(m, 0, sizeof m);
}

void Matrix3::IdentityMatrix()
{
    std::memset(m, 0, sizeof m);
    m[0][0] = m[1][1] = m[2][2] = 1.0f;
}

bool Matrix3::IsIdentity() const
{
    Matrix3 identity;
    identity.IdentityMatrix();
    return std::memcmp(m, identity.m, sizeof m) == 0;
}

// ---- BitArray

void BitArray::SetSize(int count, int save)
{
    count = std::max(count, 0);
    std::vector<DWORD> resized(static_cast<size_t>(count + 31) / 32, 0);
    if (save)
        std::copy_n(words.begin(), std::min(words.size(), resized.size()), resized.begin());
    words.swap(resized);
    size = count;
    if (size % 32 && !words.empty())
        words.back() &= (DWORD{1} << (size % 32)) - 1;
}

void BitArray::SetAll()
{
    std::fill(words.begin(), words.end(), ~DWORD{0});
    if (size % 32 && !words.empty())
        words.back() = (DWORD{1} << (size % 32)) - 1;
}

void BitArray::ClearAll()
{
    std::fill(words.begin(), words.end(), 0);
}

void BitArray::Set(int index)
{
    if (index >= 0 && index < size)
        words[size_t(index) / 32] |= DWORD{1} << (index % 32);
}

void BitArray::Clear(int index)
{
    if (index >= 0 && index < size)
        words[size_t(index) / 32] &= ~(DWORD{1} << (index % 32));
}

int BitArray::operator[](int index) const
{
    return index >= 0 && index < size ? int(words[size_t(index) / 32] >> (index % 32) & 1) : 0;
}

int BitArray::NumberSet() const
{
    int count = 0;
    for (DWORD word : words)
        for (; word; word &= word - 1)
            ++count;
    return count;
}
