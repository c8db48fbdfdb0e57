#pragma once

// Test hooks of the stand-in host: they make its factories, a scene's CreateNode and its heap
// fail on purpose. The stand-in's own sources and the tests include this; the converter does not.

#include <functional>
#include <map>
#include <string>

namespace standin {

// The host's factories (CreateNewTriObject, NewDefaultStdMat, NewDefaultBitmapTex) return null
// when `refuse` returns true, given the factory's name and its call's number.
// Scene::CreateNode returns null when `refuseNode` returns true, given its call's number on
// that scene.
struct FactoryHooks {
    std::function<bool(const std::string& factory, int call)> refuse;
    std::map<std::string, int> calls;
    std::function<bool(int call)> refuseNode;
};
FactoryHooks& Factories();

// Makes the n-th allocation from now fail, for sweeps over every allocation of an import.
// The host's heap then fails it (plain new throws, the nothrow form returns null), and a test's
// operator new can ask it too.
struct HeapFault {
    long failAt = 0; // 1 for the next allocation; 0: none fails
    long count = 0;  // allocations asked since armed
    bool Fails() { return failAt > 0 && ++count == failAt; }
};
HeapFault& TheHeapFault();

} // namespace standin
