! PRINT and WRITE (6) write one standard output: their lines keep the
! order of the statements, also when standard output is a pipe or a file,
! and FLUSH (6) pushes out what PRINT wrote before it.
program print_write6_order
  implicit none
  integer :: i
  print '(a)', 'print 1'
  write (6, '(a)') 'write 2'
  print *, 'print 3'
  write (6, *) 'write 4'
  do i = 5, 8
    if (mod(i, 2) == 1) then
      print '(a, i0)', 'print ', i
    else
      write (6, '(a, i0)') 'write ', i
    end if
  end do
  print '(a)', 'before flush'
  flush (6)
  write (*, '(a)') 'star 9'
  write (6, '(a)') 'write 10'
end program print_write6_order
