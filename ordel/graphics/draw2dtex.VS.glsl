#version 330 core
#extension GL_ARB_separate_shader_objects : require
// Pixel positions of the target through the projection; y is flipped so
// that row 0 of every target is its top, as the engine expects.
layout(std140) uniform Projection {
  mat4 projection;
};
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texcoord;
layout(location = 2) in vec4 colour;
out gl_PerVertex {
  vec4 gl_Position;
};
layout(location = 0) out vec2 uv;
layout(location = 1) out vec4 tint;
void main() {
  vec4 p = projection * vec4(position, 0.0, 1.0);
  gl_Position = vec4(p.x, -p.y, p.z, p.w);
  uv = texcoord;
  tint = colour;
}
