#pragma once

// The host application's programming interface as this plug-in uses it: 3ds Max, SDK release
// 12000 (API 33), narrow-character build. Built for 3ds Max itself (BRENNIC_HOST_SDK), this
// header includes the SDK's own headers; otherwise it declares what the plug-in calls, with
// the SDK's names and signatures, and the stand-in host (host/) implements it. Nothing else
// in the plug-in changes.

#ifdef BRENNIC_HOST_SDK

// max.h comes first, as the SDK requires. The SDK's headers are held to the warning level they
// were written for, so that the module's own code can be held to /W4 /WX.
#pragma warning(push, 3)
#include <max.h>

#include <impapi.h>
#include <iparamb2.h>
#include <istdplug.h>
#include <meshdlib.h>
#include <stdmat.h>
#pragma warning(pop)

#else

#include <windows.h>

#include <cstddef>
#include <new>
#include <string>
#include <vector>

typedef int TimeValue;
typedef char MCHAR;

// Objects handed to the host are allocated from the host's heap. Plain `new` throws when the
// heap is exhausted; `new (std::nothrow)` returns null instead. The nothrow form promises not to
// throw, so that every compiler tests its result before constructing (MSVC always does).
class MaxHeapOperators {
public:
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, const std::nothrow_t&) throw();
    static void operator delete(void* pointer);
    static void operator delete(void* pointer, const std::nothrow_t&);
};

// ---- Strings

class CStr {
public:
    CStr() {}
    CStr(const char* chars) : text(chars ? chars : "") {}
    const char* data() const { return text.c_str(); }
    operator const char*() const { return text.c_str(); }

private:
    std::string text;
};
typedef CStr MSTR;

// ---- Geometry

class Point3 {
public:
    float x, y, z;

    Point3() {} // uninitialised, like the host's
    Point3(float px, float py, float pz) : x(px), y(py), z(pz) {}
    Point3 operator+(const Point3& p) const { return Point3(x + p.x, y + p.y, z + p.z); }
    Point3 operator-(const Point3& p) const { return Point3(x - p.x, y - p.y, z - p.z); }
    Point3 operator*(float f) const { return Point3(x * f, y * f, z * f); }
    Point3& operator+=(const Point3& p)
    {
        x += p.x;
        y += p.y;
        z += p.z;
        return *this;
    }
    bool operator==(const Point3& p) const { return x == p.x && y == p.y && z == p.z; }
    float Length() const;
    Point3 Normalize() const; // the unit vector; the zero vector stays zero
};
typedef Point3 UVVert;

Point3 CrossProd(const Point3& a, const Point3& b);
float DotProd(const Point3& a, const Point3& b);

class Box3 {
public:
    Box3() : pmin(1e30f, 1e30f, 1e30f), pmax(-1e30f, -1e30f, -1e30f) {}
    Point3 pmin;
    Point3 pmax;
    void Init() { *this = Box3(); }
    bool IsEmpty() const { return pmin.x > pmax.x; }
    Box3& operator+=(const Point3& p);
};

class Matrix3 {
public:
    Matrix3(); // all zero
    void IdentityMatrix();
    bool IsIdentity() const;
    float m[4][3];
};

const DWORD EDGE_A = 1 << 0, EDGE_B = 1 << 1, EDGE_C = 1 << 2, EDGE_ALL = EDGE_A | EDGE_B | EDGE_C;

class Face {
public:
    DWORD v[3];
    DWORD smGroup;
    DWORD flags;

    void setVerts(DWORD* corners) { setVerts(int(corners[0]), int(corners[1]), int(corners[2])); }
    void setVerts(int a, int b, int c)
    {
        v[0] = DWORD(a);
        v[1] = DWORD(b);
        v[2] = DWORD(c);
    }
    void setSmGroup(DWORD group) { smGroup = group; }
    void setEdgeVisFlags(int va, int vb, int vc)
    {
        flags = (flags & ~EDGE_ALL) | (va ? EDGE_A : 0) | (vb ? EDGE_B : 0) | (vc ? EDGE_C : 0);
    }
    int getEdgeVis(int edge) const { return (flags >> edge) & 1; }
};

class TVFace {
public:
    DWORD t[3];
    void setTVerts(DWORD* corners) { setTVerts(int(corners[0]), int(corners[1]), int(corners[2])); }
    void setTVerts(int a, int b, int c)
    {
        t[0] = DWORD(a);
        t[1] = DWORD(b);
        t[2] = DWORD(c);
    }
};

class BitArray {
public:
    BitArray() : size(0) {}
    explicit BitArray(int count) : size(0) { SetSize(count); }
    void SetSize(int count, int save = 0);
    int GetSize() const { return size; }
    void SetAll();
    void ClearAll();
    void Set(int index);
    void Clear(int index);
    int operator[](int index) const;
    int NumberSet() const;

private:
    std::vector<DWORD> words;
    int size;
};

// A triangle mesh. Its arrays are public and written directly once sized with setNum*.
class Mesh {
public:
    Mesh();
    Mesh(const Mesh& from);
    ~Mesh();
    Mesh& operator=(const Mesh& from);

    BOOL setNumVerts(int count, BOOL keep = FALSE, BOOL synchSel = TRUE);
    BOOL setNumFaces(int count, BOOL keep = FALSE, BOOL synchSel = TRUE);
    BOOL setNumTVerts(int count, BOOL keep = FALSE);
    BOOL setNumTVFaces(int count, BOOL keep = FALSE, int oldCount = 0);
    int getNumVerts() const { return numVerts; }
    int getNumFaces() const { return numFaces; }
    int getNumTVerts() const { return numTVerts; }

    void setNormal(int index, const Point3& normal);
    Point3& getNormal(int index) const;
    void buildNormals();
    void buildBoundingBox();
    Box3 getBoundingBox(Matrix3* tm = NULL);
    void InvalidateEdgeList();
    BOOL RemoveDegenerateFaces();
    BOOL RemoveIllegalFaces();

    int numVerts;
    int numFaces;
    int numTVerts;
    int numTVFaces;
    Point3* verts;
    Face* faces;
    UVVert* tVerts;
    TVFace* tvFace; // one per face
    Box3 bdgBox;
};

class MeshDelta {
public:
    explicit MeshDelta(const Mesh& mesh);
    ~MeshDelta();
    // Merges the vertices of `vertexSet` that lie closer than `threshold`; applied by Apply.
    BOOL WeldByThreshold(Mesh& mesh, BitArray& vertexSet, float threshold);
    void Apply(Mesh& mesh);

    DWORD vnum, fnum; // the vertex and face counts of the mesh it was made for
};

// ---- Scene objects

enum RefResult { REF_FAIL, REF_SUCCEED };

class Animatable : public MaxHeapOperators {
public:
    virtual ~Animatable() {}
    virtual void DeleteThis() { delete this; }
};
class ReferenceTarget : public Animatable {};
class Object : public ReferenceTarget {};
typedef Object* ObjectHandle;

class TriObject : public Object {
public:
    Mesh& GetMesh() { return mesh; }
    Mesh mesh;
};
TriObject* CreateNewTriObject();

class Texmap;

class MtlBase : public ReferenceTarget {
public:
    MtlBase() : mtlFlags(0) {}
    void SetName(MSTR text) { mtlName = text; }
    const MSTR& GetName() const { return mtlName; }
    void SetMtlFlag(int mask, BOOL value = TRUE) { mtlFlags = value ? (mtlFlags | mask) : (mtlFlags & ~mask); }
    int TestMtlFlag(int mask) const { return mtlFlags & mask; }
    virtual int NumSubTexmaps() { return 0; }
    virtual Texmap* GetSubTexmap(int) { return NULL; }
    virtual void SetSubTexmap(int, Texmap*) {}

private:
    MSTR mtlName;
    int mtlFlags;
};

class Texmap : public MtlBase {};

const int MTL_TEX_DISPLAY_ENABLED = 1 << 3; // flag 8: show the texture in the viewports

class Mtl : public MtlBase {
public:
    virtual void SetActiveTexmap(MtlBase* map) = 0;
    virtual MtlBase* GetActiveTexmap() = 0;
};

// Standard material map channels.
const int ID_DI = 1; // diffuse
const int ID_OP = 6; // opacity

class StdMat : public Mtl {};
class StdMat2 : public StdMat {};
StdMat2* NewDefaultStdMat();

class BitmapTex : public Texmap {
public:
    virtual void SetMapName(const MCHAR* name) = 0;
    virtual const MCHAR* GetMapName() = 0;
    virtual void SetAlphaAsMono(BOOL on) = 0;
};
BitmapTex* NewDefaultBitmapTex();

class INode {
public:
    virtual ~INode() {}
    virtual const MCHAR* GetName() = 0;
    virtual void SetMtl(Mtl* material) = 0;
    virtual Mtl* GetMtl() = 0;
};

// ---- Import

class ImpNode {
public:
    virtual ~ImpNode() {}
    virtual RefResult Reference(ObjectHandle object) = 0;
    virtual void SetTransform(TimeValue time, Matrix3 transform) = 0;
    virtual void SetName(const MCHAR* name, bool registerForDuplicateNameCheck = true) = 0;
    virtual INode* GetINode() = 0;
};

class ImpInterface {
public:
    virtual ~ImpInterface() {}
    virtual ImpNode* CreateNode() = 0;
    virtual void RedrawViews() = 0;
    virtual void AddNodeToScene(ImpNode* node) = 0;
};

// ---- Plug-in classes

typedef ULONG SClass_ID;
const SClass_ID SCENE_IMPORT_CLASS_ID = 0xA10;

class Class_ID {
public:
    Class_ID(ULONG partA = 0, ULONG partB = 0) : a(partA), b(partB) {}
    ULONG PartA() const { return a; }
    ULONG PartB() const { return b; }
    bool operator==(const Class_ID& other) const { return a == other.a && b == other.b; }

private:
    ULONG a, b;
};

// The SDK generation a plug-in is built for: release, API number, SDK revision.
const ULONG VERSION_3DSMAX = (ULONG(12000) << 16) | (ULONG(33) << 8) | 0;

class Interface; // the host's main interface; importers here do not use it

class SceneImport : public MaxHeapOperators {
public:
    virtual ~SceneImport() {}
    virtual int ExtCount() = 0;
    virtual const MCHAR* Ext(int n) = 0;
    virtual const MCHAR* LongDesc() = 0;
    virtual const MCHAR* ShortDesc() = 0;
    virtual const MCHAR* AuthorName() = 0;
    virtual const MCHAR* CopyrightMessage() = 0;
    virtual const MCHAR* OtherMessage1() = 0;
    virtual const MCHAR* OtherMessage2() = 0;
    virtual unsigned int Version() = 0;
    virtual void ShowAbout(HWND window) = 0;
    virtual int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE) = 0;
    virtual int ZoomExtents() { return -1; }
};

class ClassDesc : public MaxHeapOperators {
public:
    virtual ~ClassDesc() {}
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading = FALSE) = 0;
    virtual const MCHAR* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const MCHAR* Category() = 0;
};

class ClassDesc2 : public ClassDesc {
public:
    ClassDesc2();
    virtual ~ClassDesc2();
    virtual const MCHAR* InternalName() { return NULL; }
    virtual HINSTANCE HInstance() { return NULL; }
};

// Centres a window over another (a host utility).
void CenterWindow(HWND window, HWND parent);

#endif // BRENNIC_HOST_SDK
