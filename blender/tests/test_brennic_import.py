# The add-on in Blender, run by run-blender-tests.sh:
#   blender -b --factory-startup --python test_brennic_import.py -- ZIP FIXTURES CONVERTER_FOLDER
# ZIP is the packaged add-on, installed as Blender's Install... button does; FIXTURES holds the
# models brennic-blender-fixtures wrote; CONVERTER_FOLDER the brennic-import to put on PATH.
# Every check is counted; any failure ends Blender with status 1.

import contextlib
import ctypes
import os
import sys
import tempfile
import traceback

import addon_utils
import bpy

package, fixtures, converter_folder = sys.argv[sys.argv.index("--") + 1:]
models = os.path.join(fixtures, "content", "meshes", "props")
passed, failed = [], []


def check(name, condition, detail=""):
    (passed if condition else failed).append(name)
    print(("ok      " if condition else "FAILED  ") + name + ("" if condition or not detail else ": " + str(detail)))


@contextlib.contextmanager
def captured_stdout(into):
    """What Blender prints on its standard output meanwhile (operator reports among it)."""
    libc = ctypes.CDLL(None)
    sys.stdout.flush()
    libc.fflush(None)
    saved = os.dup(1)
    with tempfile.TemporaryFile() as capture:
        os.dup2(capture.fileno(), 1)
        try:
            yield
        finally:
            sys.stdout.flush()
            libc.fflush(None)
            os.dup2(saved, 1)
            os.close(saved)
            capture.seek(0)
            into.append(capture.read().decode("utf-8", "replace"))


def clear_scene():
    for collection in list(bpy.data.collections):
        bpy.data.collections.remove(collection)
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    for blocks in (bpy.data.meshes, bpy.data.materials, bpy.data.images):
        for block in list(blocks):
            blocks.remove(block)


def import_models(**properties):
    """The operator's result, or the RuntimeError text it ended with; and what it printed."""
    printed = []
    try:
        with captured_stdout(printed):
            result = bpy.ops.import_scene.brennic_model(**properties)
    except RuntimeError as error:
        result = str(error)
    return result, printed[0]


def objects_by_name():
    return {obj.name: obj for obj in bpy.data.objects if obj.type == "MESH"}


def image_size(obj):
    for slot in obj.material_slots:
        if slot.material and slot.material.use_nodes:
            for node in slot.material.node_tree.nodes:
                if node.type == "TEX_IMAGE" and node.image:
                    return tuple(node.image.size)
    return None


def temporaries_left():
    return [name for name in os.listdir(tempfile.gettempdir()) if name.startswith("brennic-import-")]


def corner_normals(obj):
    """Per face: its normal and its corners' (position, normal)."""
    mesh = obj.data
    mesh.calc_normals_split()
    return [(face.normal.copy(), [(mesh.vertices[mesh.loops[i].vertex_index].co.copy(), mesh.loops[i].normal.copy())
                                  for i in face.loop_indices]) for face in mesh.polygons]


def run():
    # The add-on's zip, installed into the user scripts folder the runner made.
    check("the zip installs", bpy.ops.preferences.addon_install(filepath=package) == {"FINISHED"})
    installed = os.path.join(bpy.utils.user_resource("SCRIPTS", path="addons"), "brennic_import")
    check("into the user scripts folder", os.path.isfile(os.path.join(installed, "__init__.py")), installed)
    module = addon_utils.enable("brennic_import", default_set=True, handle_error=lambda error: traceback.print_exc())
    check("the add-on is enabled", module is not None)
    if module is None:
        return
    check("it says it is for Blender 3.4 and later", module.bl_info["blender"] == (3, 4, 0))
    check("the operator is registered", hasattr(bpy.types, "IMPORT_SCENE_OT_brennic_model"))
    preferences = bpy.context.preferences.addons["brennic_import"].preferences
    pair = os.path.join(models, "pair.model")
    cube = os.path.join(models, "cube.model")

    clear_scene()  # the factory scene's cube
    # Finding the converter: the preferences' path, beside the add-on, on PATH.
    path = os.environ.get("PATH", "")
    preferences.converter = os.path.join(fixtures, "no-such-brennic-import")
    result, _ = import_models(filepath=pair)
    check("a preferences path that cannot be run is named", "no-such-brennic-import" in str(result) and
          "preferences" in str(result), result)
    preferences.converter = ""
    result, _ = import_models(filepath=pair)
    check("no converter anywhere says where to put one", "brennic-import was not found" in str(result), result)
    check("nothing is imported without it", not objects_by_name())
    beside = os.path.join(installed, "brennic-import")
    os.symlink(os.path.join(converter_folder, "brennic-import"), beside)
    result, _ = import_models(filepath=pair)
    check("one beside the add-on is run", result == {"FINISHED"} and "box" in objects_by_name(), result)
    os.unlink(beside)
    clear_scene()
    preferences.converter = os.path.join(converter_folder, "brennic-import")
    result, _ = import_models(filepath=pair)
    check("the preferences' path is run", result == {"FINISHED"} and "box" in objects_by_name(), result)
    clear_scene()
    preferences.converter = ""
    os.environ["PATH"] = converter_folder + os.pathsep + path

    # Two textured meshes; the LOD only on request, then in a hidden collection of its own.
    for include_lods in (False, True):
        clear_scene()
        label = " (with LODs)" if include_lods else ""
        result, printed = import_models(filepath=pair, include_lods=include_lods)
        check("pair.model imports" + label, result == {"FINISHED"}, result)
        objects = objects_by_name()
        expected = {"box", "post", "post_lod1"} if include_lods else {"box", "post"}
        check("its objects" + label, set(objects) == expected, sorted(objects))
        faces = {name: len(obj.data.polygons) for name, obj in objects.items()}
        check("their faces" + label, faces == {"box": 12, "post": 12, "post_lod1": 4} if include_lods
              else faces == {"box": 12, "post": 12}, faces)
        sizes = {name: image_size(obj) for name, obj in objects.items()}
        expected_sizes = {"box": (32, 16), "post": (8, 8), "post_lod1": (8, 8)}
        check("their textures' decoded sizes" + label,
              sizes == {name: expected_sizes[name] for name in expected}, sizes)
        check("no warning for a whole model" + label, "Warning" not in printed, printed)
        lods = [c for c in bpy.data.collections if c.name.endswith(" LODs")]
        if not include_lods:
            check("no LOD collection without LODs", not lods, [c.name for c in lods])
            continue
        check("one LOD collection, named after its mesh", [c.name for c in lods] == ["post LODs"],
              [c.name for c in lods])
        if lods:
            layer = bpy.context.view_layer.layer_collection.children.get("post LODs")
            check("it holds the LOD alone", [o.name for o in lods[0].objects] == ["post_lod1"],
                  [o.name for o in lods[0].objects])
            check("it is hidden in the viewport and in renders", layer is not None and layer.hide_viewport and
                  lods[0].hide_render)
            check("the meshes themselves stay visible", objects["box"].visible_get() and
                  objects["post"].visible_get() and not objects["post_lod1"].visible_get())

    # Several files at once; a missing texture is a warning in Blender's reports.
    clear_scene()
    result, printed = import_models(directory=models, files=[{"name": "pair.model"}, {"name": "cube.model"}])
    check("two files at once", result == {"FINISHED"} and set(objects_by_name()) == {"box", "post", "cube"},
          (result, sorted(objects_by_name())))
    check("the converter's warning reaches the reports, with its file",
          "cube.model: texture" in printed and "gone" in printed, printed)

    # Normals: the host's smooth ones by default, the file's own with 'game'.
    for normals in ("host", "game"):
        clear_scene()
        result, _ = import_models(filepath=cube, normals=normals)
        obj = objects_by_name().get("cube")
        check("the cube imports with normals=%s" % normals, result == {"FINISHED"} and obj is not None, result)
        if obj is None:
            continue
        # Game normals keep the sides' 24 vertices apart; the host's smooth ones leave apart only
        # the corners whose texture coordinates differ: 20.
        vertices = 24 if normals == "game" else 20
        check("it keeps %d vertices and 12 faces (%s)" % (vertices, normals),
              (len(obj.data.vertices), len(obj.data.polygons)) == (vertices, 12),
              (len(obj.data.vertices), len(obj.data.polygons)))
        faces = corner_normals(obj)
        flat = all(face.dot(normal) > 0.9999 for face, corners in faces for _, normal in corners)
        at_position = {}
        for _, corners in faces:
            for position, normal in corners:
                at_position.setdefault(tuple(round(c, 4) for c in position), []).append(normal)
        smooth = all((normal - normals_there[0]).length < 1e-3
                     for normals_there in at_position.values() for normal in normals_there)
        if normals == "game":
            check("game normals are the sides' own: flat", flat)
        else:
            check("host normals are smooth over each corner of the cube", not flat and smooth,
                  {position: [tuple(n) for n in there] for position, there in at_position.items()})

    # What the converter refuses, and --strict, import nothing and say why.
    clear_scene()
    result, _ = import_models(filepath=cube, strict=True)
    check("strict refuses a file with a warning", "with --strict" in str(result) and not objects_by_name(), result)
    not_a_model = os.path.join(fixtures, "notes.model")
    with open(not_a_model, "w") as notes:
        notes.write("not a model\n")
    result, _ = import_models(filepath=not_a_model)
    check("a file that is not a model is refused in words", "not a Brennic model file" in str(result), result)
    check("no temporary folder is left", not temporaries_left(), temporaries_left())


try:
    run()
except Exception:
    traceback.print_exc()
    failed.append("the tests ran to their end")
print("%d passed, %d failed" % (len(passed), len(failed)))
sys.exit(1 if failed else 0)
