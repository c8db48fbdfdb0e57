#pragma once

// The owner of one heap object, or of one heap array, that releases it with itself and is never
// copied, in the form every compiler of the module reads. `Release` says how: delete, delete[],
// or a host object's own DeleteThis.

#include <cstddef>

struct DeleteOne {
    template <typename T>
    void operator()(T* object) const
    {
        delete object;
    }
};

struct DeleteArray {
    template <typename T>
    void operator()(T* array) const
    {
        delete[] array;
    }
};

template <typename T, typename Release = DeleteOne>
class Owned {
public:
    explicit Owned(T* owned = NULL) : pointer(owned) {}
    ~Owned() { reset(); }

    T* get() const { return pointer; }
    // True when it holds something (a pointer to a member, which converts to nothing else).
    typedef T* Owned::*Holds;
    operator Holds() const { return pointer ? &Owned::pointer : NULL; }
    T& operator*() const { return *pointer; }
    T* operator->() const { return pointer; }
    T& operator[](std::size_t index) const { return pointer[index]; }

    // Hands the object over to a new owner, releasing nothing.
    T* release()
    {
        T* owned = pointer;
        pointer = NULL;
        return owned;
    }
    void reset(T* owned = NULL)
    {
        T* old = pointer;
        pointer = owned;
        if (old)
            Release()(old);
    }
    void swap(Owned& other)
    {
        T* mine = pointer;
        pointer = other.pointer;
        other.pointer = mine;
    }

private:
    Owned(const Owned&); // one owner only: never copied
    Owned& operator=(const Owned&);

    T* pointer;
};
