# Run by render-sample.sh inside `blender -b --factory-startup`: imports the bundled sample through
# the add-on, with the game's normals, and renders it small with Cycles on the CPU.
#   blender -b --factory-startup --python render-sample.py -- SAMPLE_MODEL PNG

import sys

import addon_utils
import bpy
from mathutils import Vector

model, png = sys.argv[sys.argv.index("--") + 1:]

for obj in list(bpy.data.objects):  # the factory scene's cube, light and camera
    bpy.data.objects.remove(obj)
if addon_utils.enable("brennic_import", default_set=True) is None:
    sys.exit("the add-on could not be enabled")
bpy.ops.import_scene.brennic_model(filepath=model, normals="game")
imported = [obj for obj in bpy.data.objects if obj.type == "MESH"]
if not imported:
    sys.exit("nothing was imported")

corners = [obj.matrix_world @ Vector(corner) for obj in imported for corner in obj.bound_box]
low = Vector(min(c[i] for c in corners) for i in range(3))
high = Vector(max(c[i] for c in corners) for i in range(3))
centre, size = (low + high) / 2, (high - low).length

scene = bpy.context.scene
bpy.ops.mesh.primitive_plane_add(size=size * 4, location=(centre.x, centre.y, low.z))
ground = bpy.data.materials.new("ground")
ground.use_nodes = True
ground.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.35, 0.37, 0.4, 1)
bpy.context.object.data.materials.append(ground)

camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
scene.collection.objects.link(camera)
camera.location = centre + Vector((0.55, -1.0, 0.45)) * size * 1.45
camera.rotation_euler = (centre - camera.location).to_track_quat("-Z", "Y").to_euler()
scene.camera = camera

sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.data.energy = 4
sun.rotation_euler = (0.8, 0.2, 0.9)
scene.collection.objects.link(sun)
scene.world = scene.world or bpy.data.worlds.new("world")
scene.world.use_nodes = True
scene.world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.6, 0.7, 0.85, 1)
scene.world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.6

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 16
scene.cycles.use_denoising = False  # Debian's Blender may lack OpenImageDenoise
scene.render.resolution_x, scene.render.resolution_y = 320, 240
scene.render.resolution_percentage = 100
scene.render.image_settings.file_format = "PNG"
scene.render.filepath = png
bpy.ops.render.render(write_still=True)
