#version 120
// Lighting laid out in texture space: each vertex is placed at its texture coordinate, so the
// light arriving on the skin becomes an image that the diffusion passes can blur.
attribute vec3 tangent;
attribute vec3 binormal;
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec3 eyeTangent;
varying vec3 eyeBinormal;

void main()
{
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    eyeNormal = gl_NormalMatrix * gl_Normal;
    eyeTangent = gl_NormalMatrix * tangent;
    eyeBinormal = gl_NormalMatrix * binormal;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    // Where several surfaces share texture space (the linings of the mouth and the eyes), the one
    // nearest the camera keeps the texel: the depth is the vertex's depth in the view.
    vec4 view = ftransform();
    gl_Position = vec4(gl_MultiTexCoord0.st * 2.0 - 1.0, clamp(view.z / view.w, -1.0, 1.0), 1.0);
}
