# Brennic models in Blender: brennic-import converts each file to a temporary .glb, which
# Blender's own glTF importer reads; LOD meshes go into hidden collections of their own.

bl_info = {
    "name": "Brennic Model Import",
    "author": "Brennic Mesh Import developers",
    "version": (0, 9, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > Brennic Model (.model, .mesh)",
    "description": "Imports the game Brennic's .model and .mesh files through brennic-import",
    "category": "Import-Export",
}

import os
import re
import tempfile
import warnings

import bpy
from bpy.props import BoolProperty, CollectionProperty, EnumProperty, StringProperty
from bpy_extras.io_utils import ImportHelper

from . import command

# The plug-in names a node after its mesh, and the game names a LOD mesh after the mesh it
# stands in for: "barrel_lod1" for "barrel". Blender may add ".001" to a name it already has.
LOD_NAME = re.compile(r"^(?P<base>.+?)_lod\d*(\.\d{3})?$")


class BrennicImportPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    converter: StringProperty(
        name="brennic-import",
        description="The converter to run; when empty, the one beside the add-on or on PATH",
        subtype="FILE_PATH",
    )

    def draw(self, context):
        self.layout.prop(self, "converter")


def numpy_bool_shim():
    # Blender 3.4's glTF importer asks numpy for `bool`, which numpy 1.24 no longer has.
    try:
        import numpy
    except ImportError:
        return
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", FutureWarning)  # numpy 1.24 warns of the name while it lacks it
        lacks_bool = not hasattr(numpy, "bool")
    if lacks_bool:
        numpy.bool = bool


def layer_collection_of(layer, collection):
    if layer.collection == collection:
        return layer
    for child in layer.children:
        found = layer_collection_of(child, collection)
        if found:
            return found
    return None


def group_lods(context, objects):
    """Moves each mesh's LOD objects into a collection of their own, hidden in the viewport and
    in renders; the collections sit where the objects were imported. Returns them."""
    target = context.view_layer.active_layer_collection.collection
    by_base = {}
    for obj in sorted(objects, key=lambda o: o.name):
        match = LOD_NAME.match(obj.name)
        if match:
            by_base.setdefault(match.group("base"), []).append(obj)
    made = []
    for base, lods in by_base.items():
        collection = bpy.data.collections.new(base + " LODs")
        target.children.link(collection)
        for obj in lods:
            for holder in list(obj.users_collection):
                holder.objects.unlink(obj)
            collection.objects.link(obj)
        collection.hide_render = True
        layer = layer_collection_of(context.view_layer.layer_collection, collection)
        if layer:
            layer.hide_viewport = True
        made.append(collection)
    return made


class ImportBrennicModel(bpy.types.Operator, ImportHelper):
    """Import Brennic models (.model, .mesh) through brennic-import"""

    bl_idname = "import_scene.brennic_model"
    bl_label = "Import Brennic Model"
    bl_options = {"REGISTER", "UNDO", "PRESET"}

    filename_ext = ".model"
    filter_glob: StringProperty(default="*.model;*.mesh", options={"HIDDEN"})
    files: CollectionProperty(type=bpy.types.OperatorFileListElement, options={"HIDDEN", "SKIP_SAVE"})
    directory: StringProperty(subtype="DIR_PATH", options={"HIDDEN", "SKIP_SAVE"})

    include_lods: BoolProperty(
        name="Include LODs",
        description="Also import the LOD meshes the model refers to, each mesh's in a hidden collection",
        default=False,
    )
    normals: EnumProperty(
        name="Normals",
        items=(
            ("host", "Host",
             "The normals the import gives in 3ds Max: rebuilt after the weld, smooth across each mesh"),
            ("game", "Game",
             "Each vertex's normal as the file packs it, vertices kept apart as the file keeps them: "
             "hard edges stay hard, shading as in the game"),
        ),
        default="host",
    )
    strict: BoolProperty(
        name="Fail on Warnings",
        description="Import nothing from a file the converter warns about (a missing texture or .mesh, "
                    "a damaged chunk)",
        default=False,
    )

    def paths(self):
        if self.files and any(f.name for f in self.files):
            folder = self.directory or os.path.dirname(self.filepath)
            return [os.path.join(folder, f.name) for f in self.files if f.name]
        return [self.filepath]

    def execute(self, context):
        preferences = context.preferences.addons[__package__].preferences
        try:
            converter = command.find_converter(preferences.converter)
        except command.ConverterMissing as missing:
            self.report({"ERROR"}, str(missing))
            return {"CANCELLED"}
        numpy_bool_shim()

        paths = self.paths()
        imported = 0
        for path in paths:
            name = os.path.basename(path)
            prefix = name + ": " if len(paths) > 1 else ""
            # Removed on every path out, the .glb and anything the importer left beside it with it.
            with tempfile.TemporaryDirectory(prefix="brennic-import-") as folder:
                glb = os.path.join(folder, os.path.splitext(name)[0] + ".glb")
                try:
                    outcome = command.convert(converter, path, glb, include_lods=self.include_lods,
                                              normals=self.normals, strict=self.strict)
                except OSError as error:
                    self.report({"ERROR"}, "%scannot run %s: %s" % (prefix, converter, error))
                    continue
                for warning in outcome.warnings:
                    self.report({"WARNING"}, prefix + warning)
                for error in outcome.errors:
                    self.report({"ERROR"}, error)
                if outcome.status != 0 or not os.path.isfile(glb):
                    continue
                before = set(bpy.data.objects)
                try:
                    result = bpy.ops.import_scene.gltf(filepath=glb)
                except RuntimeError as error:
                    self.report({"ERROR"}, "%sBlender's glTF importer failed: %s" % (prefix, error))
                    continue
                if "FINISHED" not in result:
                    self.report({"ERROR"}, prefix + "Blender's glTF importer did not finish")
                    continue
            objects = [obj for obj in bpy.data.objects if obj not in before]
            if self.include_lods:
                group_lods(context, objects)
            imported += 1
            self.report({"INFO"}, "%s: %d objects" % (name, len(objects)))
        return {"FINISHED"} if imported else {"CANCELLED"}


def menu_import(self, context):
    self.layout.operator(ImportBrennicModel.bl_idname, text="Brennic Model (.model, .mesh)")


classes = (BrennicImportPreferences, ImportBrennicModel)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)


def unregister():
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
